#!/usr/bin/env bash
# dovrik-probe against the demo mail server: the result line and the retrieved text.
#   probe_test.sh MAILSERVER PROBE
set -euo pipefail
server="$1"
probe="$2"
coproc MAIL { exec "$server" --user demo --pass demo; }
server_pid=$MAIL_PID
trap 'kill "$server_pid" 2>/dev/null || true' EXIT
read -r _ pop3 <&"${MAIL[0]}"
read -r _ smtp <&"${MAIL[0]}"
fail() { echo "FAIL: $*" >&2; exit 1; }

out=$(echo demo | "$probe" --port "$pop3" --user demo check)
[[ "$out" == "code=0 count=3 size=500" ]] || fail "check: $out"

# A refused password: one line, the server's reply escaped.
out=$(echo wrong | "$probe" --port "$pop3" --user demo check) && fail "wrong password succeeded"
[[ "$out" == 'code=-2 count=0 size=0 text=-ERR invalid password\r\n' ]] || fail "refusal: $out"

# A get writes the reply as received, dot-stuffing kept, after the result line, which names the
# message's unique id.
out=$(echo demo | "$probe" --port "$pop3" --user demo get 1)
[[ "$(head -n 1 <<<"$out")" == "code=0 count=0 size=0 uidl=uid1" ]] || fail "get: $out"
grep -qx $'..\r' <<<"$out" || fail "get lost the stuffed dot line"
[[ "$(tail -n 1 <<<"$out")" == $'.\r' ]] || fail "get: no end line"

# A delete guarded by a check that no longer holds deletes nothing.
out=$(echo demo | "$probe" --port "$pop3" --user demo --guard 4:500:uid1 delete 1) &&
  fail "guarded delete went ahead"
[[ "$out" == "code=-14 count=0 size=0 text=Mailbox changed since the last check; nothing was deleted" ]] ||
  fail "guarded delete: $out"

# Repeated checks in one process: the accepted password is not asked again.
out=$(echo demo | "$probe" --port "$pop3" --user demo --repeat 3 check 2>/dev/null)
[[ "$out" == "code=0 count=3 size=500" ]] || fail "repeat: $out"

printf 'Subject: hi\n\nbody\n' > "${TMPDIR:-/tmp}/probe_test_$$.txt"
out=$("$probe" --port "$smtp" send me@x you@y "${TMPDIR:-/tmp}/probe_test_$$.txt")
rm -f "${TMPDIR:-/tmp}/probe_test_$$.txt"
[[ "$out" == "code=0 count=0 size=0" ]] || fail "send: $out"
echo ok
