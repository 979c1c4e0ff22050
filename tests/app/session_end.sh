#!/usr/bin/env bash
# The end of the session by signal: SIGTERM, SIGHUP and SIGINT each end the program with 0 and the
# display font saved in the settings store.
#   session_end.sh <build dir>
build="$1"
tmp="$(mktemp -d)"
source "$(dirname "$0")/app_lib.sh"
need_tools Xvfb trayer xwininfo

start_desktop tray
start_mailserver
store=$XDG_CONFIG_HOME/dovrik/registry.reg
for signal in TERM HUP INT; do
  store_settings 240
  panel_before=$(panel_windows)
  start_app "sig$signal"
  pid=$app_pid
  step "SIG$signal: the tray icon" 20 icon_docked
  kill -s "$signal" "$pid"
  step "SIG$signal: the program ended" 20 gone "$pid"
  code=$(exit_code "$pid")
  [[ "$code" == 0 ]] || fail "SIG$signal gave $code, not 0"
  grep -qF '\PELLORY\BaseFont]' "$store" || fail "SIG$signal: no font saved in $(cat "$store")"
  step "SIG$signal: the icon gone" 10 test "$(panel_windows)" -le "$panel_before"
done
echo "PASSED"
