# Shared steps of the program's end-to-end scripts: a virtual X server with a tray panel, the test
# mail server on loopback, an isolated settings store, and dovrik itself. Sourced, not run.
#   needs: $tmp (a fresh folder), $build (the build folder)
set -euo pipefail

pids=()
# Stops only the processes started here, newest first; a process that ignores TERM gets KILL.
cleanup() {
  local i pid n
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    pid="${pids[i]}"
    kill "$pid" 2>/dev/null || continue
    for ((n = 0; n < 40; n++)); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
    kill -9 "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$tmp"
}
trap cleanup EXIT

# Polls a condition every 20 ms for at most $1 seconds.
wait_for() {
  local limit=$(($1 * 50)) i
  shift
  for ((i = 0; i < limit; i++)); do
    if "$@"; then return 0; fi
    sleep 0.02
  done
  return 1
}
diagnose() {
  local f
  for f in "$tmp"/*.err "$tmp"/*.out; do
    [[ -f "$f" ]] || continue
    echo "--- $f"
    tail -n 30 "$f"
  done
  # What the X servers of the machine look like, for a program that could not reach ours.
  echo "--- DISPLAY=${DISPLAY:-} display file: $(cat "$tmp/display" 2>/dev/null)"
  ps -eo pid,ppid,etimes,args | grep -E '[X]vfb|[t]rayer' || true
  ls -la /tmp/.X11-unix 2>/dev/null || true
  ss -xl 2>/dev/null | grep X11 || true
}
step() {
  local what="$1"
  shift
  if ! wait_for "$@"; then
    echo "FAILED: $what" >&2
    diagnose >&2
    exit 1
  fi
  echo "ok: $what"
}
fail() {
  echo "FAILED: $*" >&2
  diagnose >&2
  exit 1
}
xc() { timeout 10 "$@"; }

need_tools() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "$tool not found: skipped"; exit 77; }
  done
}

mkdir -m 700 "$tmp/run" "$tmp/config"
export XDG_RUNTIME_DIR="$tmp/run"
export XDG_CONFIG_HOME="$tmp/config"
unset WAYLAND_DISPLAY QT_QPA_PLATFORM SESSION_MANAGER

x_answers() { xc xwininfo -root >/dev/null 2>&1; }
panel_ready() { xc xwininfo -root -tree 2>/dev/null | grep -q '"panel"'; }
# Starts Xvfb (and trayer when $1 is "tray") on a free display that answers; retried, since
# another X server that ends just as ours starts can take the display's socket with it.
start_desktop() {
  local attempt
  for attempt in 1 2 3; do
    : >"$tmp/display"
    # -noreset: the server would otherwise reset whenever its last client leaves (the probe
    # below, a program that ended), and a program connecting during a reset can be turned away.
    Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp -noreset 3>"$tmp/display" \
      >"$tmp/xvfb.err" 2>&1 &
    pids+=($!)
    if wait_for 10 test -s "$tmp/display"; then
      export DISPLAY=":$(head -n1 "$tmp/display")"
      if ! wait_for 10 x_answers; then
        echo "attempt $attempt: $DISPLAY does not answer" >&2
        continue
      fi
      [[ "${1:-}" == tray ]] || return 0
      trayer --edge top --align right --widthtype pixel --width 160 --heighttype pixel \
        --height 40 --SetDockType true --transparent false --tint 0x404040 \
        >"$tmp/trayer.out" 2>&1 &
      pids+=($!)
      if wait_for 10 panel_ready; then return 0; fi
    fi
    echo "attempt $attempt: no desktop" >&2
  done
  fail "a virtual desktop"
}

# The program's icons docked in the tray panel (windows of class "dovrik" below the panel).
panel_windows() {
  xc xwininfo -root -tree 2>/dev/null |
    awk '/"panel"/{p=1; next} p && /^     0x/{p=0} p && /\("dovrik"/{n++} END{print n+0}'
}
icon_docked() { (($(panel_windows) > panel_before)); }

# The test mail server on a free loopback port; sets pop3_port and smtp_port.
start_mailserver() {
  coproc MAIL { exec "$build/tools/mailserver/dovrik-mailserver" --list-after-user "$@" 2>"$tmp/mail.err"; }
  pids+=($MAIL_PID)
  read -r _ pop3_port <&"${MAIL[0]}"
  read -r _ smtp_port <&"${MAIL[0]}"
}

# A fresh store holding only these settings, written by the program's own store tool: the servers
# on loopback, checks every $1 seconds, no popup, auto get when $2 is 1 (default 0), no log, no
# prompt on exit.
store_settings() {
  local auto_get="${2:-0}"
  rm -f "$XDG_CONFIG_HOME/dovrik/registry.reg"
  "$build/tools/store/dovrik-store" set-settings 127.0.0.1 "$pop3_port" demo NoMorePass "$1" 20 0 \
    127.0.0.1 "$smtp_port" "$auto_get" 0 0 "Me <me@example.invalid>" ||
    fail "the settings could not be stored"
}

# Starts dovrik in the background with its output in $tmp/<name>.out/.err; sets app_pid.
start_app() {
  local name="$1"
  QT_QPA_PLATFORM=xcb "$build/app/dovrik" >"$tmp/$name.out" 2>"$tmp/$name.err" &
  app_pid=$!
  pids+=($app_pid)
}
# The ids of the mapped windows of process $1 whose names match the extended regex $2.
viewable_windows() {
  local id info
  for id in $(xc xdotool search --pid "$1" 2>/dev/null); do
    info=$(xc xwininfo -id "$id" 2>/dev/null) || continue
    grep -q 'Map State: IsViewable' <<<"$info" || continue
    sed -n 's/^xwininfo: Window id: [^ ]* "\(.*\)"$/\1/p' <<<"$info" | grep -Eq "$2" && echo "$id"
  done
  return 0
}
# The middle of the program's tray icon on the screen: "x y".
icon_centre() {
  xc xwininfo -root -tree 2>/dev/null | awk '/"panel"/{p=1; next} p && /^     0x/{p=0}
    p && /\("dovrik"/ {split($(NF-1), g, /[x+]/); split($NF, a, /[+]/); print a[2] + g[1] / 2, a[3] + g[2] / 2; exit}'
}
alive() { kill -0 "$1" 2>/dev/null; }
gone() { ! kill -0 "$1" 2>/dev/null || [[ "$(ps -o stat= -p "$1" 2>/dev/null)" == Z* ]]; }
exit_code() {
  local code=0
  wait "$1" || code=$?
  echo "$code"
}
