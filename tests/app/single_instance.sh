#!/usr/bin/env bash
# One copy per display: a second start while the first sits hidden in the tray shows the refusal
# and ends with 1, the first runs on; after the first was killed outright the next start runs.
#   single_instance.sh <build dir> <artefact dir>
build="$1"
artefacts="$2"
tmp="$(mktemp -d)"
source "$(dirname "$0")/app_lib.sh"
need_tools Xvfb trayer xwininfo xdotool import
mkdir -p "$artefacts"

start_desktop tray
start_mailserver
store_settings 240
panel_before=$(panel_windows)

start_app first
first=$app_pid
step "the first copy's tray icon" 20 icon_docked
visible_main() { viewable_windows "$first" "Pellory|settings" | grep -q .; }
if visible_main; then fail "the first copy shows a window at start"; fi

start_app second
second=$app_pid
box_shown() { box=$(viewable_windows "$second" '^dovrik$' | head -n1) && [[ -n "$box" ]]; }
step "the refusal shown by the second copy" 20 box_shown
xc import -window root "$artefacts/app-second-start.png"
xc xdotool windowfocus --sync "$box" key Return
step "the second copy ended" 20 gone "$second"
code=$(exit_code "$second")
[[ "$code" == 1 ]] || fail "the second copy ended with $code, not 1"
alive "$first" || fail "the first copy ended too"
echo "ok: second copy refused with 1"

kill -9 "$first"
step "the first copy killed" 10 gone "$first"
wait "$first" 2>/dev/null || true
step "its icon gone" 10 test "$(panel_windows)" -le "$panel_before"
start_app third
third=$app_pid
step "a new copy after the kill" 20 icon_docked
kill -TERM "$third"
step "the new copy ended on SIGTERM" 20 gone "$third"
code=$(exit_code "$third")
[[ "$code" == 0 ]] || fail "SIGTERM gave $code, not 0"
grep -q "One Quorrel" "$tmp/third.err" && fail "the third copy was refused"
echo "PASSED"
