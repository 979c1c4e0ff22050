#!/bin/bash
# The installed program (in the test chroot, or in an install tree) resolves all its libraries,
# starts as a new user would (no settings yet, so the first setup's window is open; no display:
# the offscreen platform), reaches its event loop, and on SIGTERM, as at the end of a desktop
# session, ends with status 0 and the display font saved.
#   start_installed.sh [PROGRAM]    (default /usr/bin/dovrik)
set -u
program=${1:-/usr/bin/dovrik}
fail() {
  echo "FAILED: $*"
  exit 1
}

missing=$(ldd "$program" | grep "not found")
[[ -z $missing ]] || fail "unresolved libraries: $missing"

export QT_QPA_PLATFORM=offscreen
XDG_CONFIG_HOME=$(mktemp -d) XDG_RUNTIME_DIR=$(mktemp -d) HOME=$(mktemp -d)
export XDG_CONFIG_HOME XDG_RUNTIME_DIR HOME
chmod 0700 "$XDG_RUNTIME_DIR"
out=$(mktemp)
"$program" >"$out" 2>&1 &
pid=$!

# Polls /proc every 50 ms; a bounded number of times each.
wait_for() {  # wait_for TRIES CONDITION...
  local tries=$1
  shift
  for ((i = 0; i < tries; i++)); do
    "$@" && return 0
    sleep 0.05
  done
  return 1
}
# The event loop: the main thread blocks in poll or ppoll (system calls 7 and 271) with every
# library loaded and the first window made.
in_event_loop() {
  local nr
  kill -0 "$pid" 2>/dev/null || return 0  # ended: stop waiting, judged below
  read -r nr _ <"/proc/$pid/syscall" 2>/dev/null && [[ $nr == 7 || $nr == 271 ]]
}
gone() { ! kill -0 "$pid" 2>/dev/null; }

wait_for 600 in_event_loop || fail "no event loop within 30 s; output: $(cat "$out")"
if gone; then
  wait "$pid"
  fail "dovrik ended (status $?) before reaching its event loop; output: $(cat "$out")"
fi
echo "dovrik (pid $pid) waits in its event loop; sending SIGTERM"
kill -TERM "$pid"
if ! wait_for 200 gone; then
  kill -KILL "$pid"
  fail "dovrik still runs 10 s after SIGTERM; output: $(cat "$out")"
fi
wait "$pid"
status=$?
cat "$out"
[[ $status -eq 0 ]] || fail "dovrik ended with status $status after SIGTERM"
store=$XDG_CONFIG_HOME/dovrik/registry.reg
grep -qF '\PELLORY\BaseFont]' "$store" 2>/dev/null || fail "no display font saved in $store"
echo "dovrik started from $program and ended cleanly"
