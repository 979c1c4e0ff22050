#!/usr/bin/env bash
# Without any display: the refusal on standard error with 1 while another copy runs, and a clear
# error with 1 otherwise.
#   no_display.sh <build dir> <lock holder>
build="$1"
holder="$2"
tmp="$(mktemp -d)"
source "$(dirname "$0")/app_lib.sh"
unset DISPLAY

code=0
"$build/app/dovrik" >"$tmp/alone.out" 2>"$tmp/alone.err" || code=$?
[[ "$code" == 1 ]] || fail "alone: exit $code"
grep -q "no desktop to show on" "$tmp/alone.err" || fail "alone: $(cat "$tmp/alone.err")"
echo "ok: alone: $(cat "$tmp/alone.err")"

coproc HOLDER { exec "$holder" lock; }
pids+=($HOLDER_PID)
read -r -n1 held <&"${HOLDER[0]}"
[[ "$held" == H ]] || fail "the holder could not take the lock: $held"
code=0
"$build/app/dovrik" >"$tmp/second.out" 2>"$tmp/second.err" || code=$?
[[ "$code" == 1 ]] || fail "second: exit $code"
[[ "$(cat "$tmp/second.err")" == "One Quorrel is enough!" ]] || fail "second: $(cat "$tmp/second.err")"
echo "ok: second: $(cat "$tmp/second.err")"
echo "PASSED"
