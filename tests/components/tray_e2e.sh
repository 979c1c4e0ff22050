#!/usr/bin/env bash
# End to end on a real tray: Xvfb, trayer as the tray host, and the demo's tray icon. A left click
# must raise OnClick, a right click must open the menu; a screenshot of the screen with the menu
# open is kept as an artefact.
#   tray_e2e.sh <tray_e2e_demo> <artefact dir>
set -euo pipefail
demo="$1"
artefacts="$2"
for tool in Xvfb trayer xdotool xwininfo import; do
  command -v "$tool" >/dev/null || { echo "$tool not found: skipped"; exit 77; }
done
mkdir -p "$artefacts"
tmp="$(mktemp -d)"
pids=()
cleanup() {
  local i pid n
  # Only the processes started here, newest first; a process that ignores TERM gets KILL.
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    pid="${pids[i]}"
    kill "$pid" 2>/dev/null || continue
    for ((n = 0; n < 40; n++)); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
    kill -9 "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$tmp"
}
# Shows what the processes said when a step fails.
diagnose() {
  echo "--- demo stdout"; cat "$tmp/demo.out" 2>/dev/null || true
  echo "--- demo stderr"; tail -n 40 "$tmp/demo.err" 2>/dev/null || true
  echo "--- trayer"; tail -n 20 "$tmp/trayer.out" 2>/dev/null || true
  echo "--- Xvfb"; tail -n 20 "$tmp/xvfb.err" 2>/dev/null || true
}
trap cleanup EXIT

# Polls a condition every 50 ms for at most $1 seconds.
wait_for() {
  local limit=$(($1 * 20)) i
  shift
  for ((i = 0; i < limit; i++)); do
    if "$@"; then return 0; fi
    sleep 0.05
  done
  echo "timed out waiting for: $*" >&2
  return 1
}
has_line() { grep -q "$1" "$tmp/demo.out"; }
# X clients get a bound of their own, so a stuck server can't stall the test.
xc() { timeout 10 "$@"; }
step() {
  local what="$1"
  shift
  if ! wait_for "$@"; then
    echo "FAILED: $what" >&2
    diagnose >&2
    exit 1
  fi
}

mkdir -m 700 "$tmp/run"
export XDG_RUNTIME_DIR="$tmp/run"

# Starts a virtual X server and trayer on it. Another X server on the machine that ends just as
# ours starts can take our display's socket with it; a fresh display is then the cure, so this is
# tried a few times before the test gives up.
start_desktop() {
  Xvfb -displayfd 3 -screen 0 640x240x24 -nolisten tcp -noreset 3>"$tmp/display" \
    >"$tmp/xvfb.err" 2>&1 &
  pids+=($!)
  wait_for 10 test -s "$tmp/display" || return 1
  export DISPLAY=":$(head -n1 "$tmp/display")"
  echo "display $DISPLAY"
  trayer --edge top --align right --widthtype pixel --width 160 --heighttype pixel --height 40 \
    --SetDockType true --transparent false --tint 0x404040 >"$tmp/trayer.out" 2>&1 &
  pids+=($!)
  wait_for 10 sh -c 'timeout 5 xwininfo -root -tree | grep -q "\"panel\""'
}
started=0
for attempt in 1 2 3; do
  if start_desktop; then started=1; break; fi
  echo "attempt $attempt: no tray panel" >&2
  diagnose >&2
  cleanup_started=("${pids[@]}")
  pids=()
  for ((i = ${#cleanup_started[@]} - 1; i >= 0; i--)); do
    kill -9 "${cleanup_started[i]}" 2>/dev/null || true
    wait "${cleanup_started[i]}" 2>/dev/null || true
  done
  : >"$tmp/display"
done
if ((started == 0)); then
  echo "FAILED: trayer's panel window" >&2
  exit 1
fi

QT_QPA_PLATFORM=xcb "$demo" >"$tmp/demo.out" 2>"$tmp/demo.err" &
pids+=($!)
step "the icon in the tray" 20 has_line '^geometry '
read -r _ x y w h < <(grep '^geometry ' "$tmp/demo.out" | head -n1)
cx=$((x + w / 2))
cy=$((y + h / 2))
echo "icon at $x,$y ${w}x$h"

xc xdotool mousemove "$cx" "$cy" click 1
step "OnClick after a left click" 10 has_line '^OnClick left'
echo "left click: $(grep '^OnClick left' "$tmp/demo.out")"

xc xdotool mousemove "$cx" "$cy" click 3
step "the menu after a right click" 10 has_line '^menu shown'
# The demo says so once the menu has been painted; then the picture shows it.
step "the menu painted" 10 has_line '^menu painted'
xc import -window root "$artefacts/tray-e2e.png"
echo "screenshot $artefacts/tray-e2e.png"
if grep -q '^OnClick right' "$tmp/demo.out"; then echo "right click raised OnClick" >&2; exit 1; fi

# Pick "Exit" from the open menu: the demo ends by itself.
xc xdotool key Up Return
step "the Exit item chosen" 10 has_line '^action Exit'
cat "$tmp/demo.out"
