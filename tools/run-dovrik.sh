#!/usr/bin/env bash
# Installs what is missing, builds Dovrik and runs its main job.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default

# The mail engine at work: the demo mail server on a free loopback port, then a check and a get
# through the headless driver, which reads the password from standard input when asked.
tools="build/default/tools"
coproc MAIL { exec "$tools/mailserver/dovrik-mailserver" --user demo --pass demo; }
server_pid=$MAIL_PID
trap 'kill "$server_pid" 2>/dev/null || true' EXIT
read -r _ pop3_port <&"${MAIL[0]}"
echo "Demo mail server on 127.0.0.1:$pop3_port"
echo "dovrik-probe check:"
echo demo | "$tools/probe/dovrik-probe" --port "$pop3_port" --user demo check
echo "dovrik-probe get 1:"
echo demo | "$tools/probe/dovrik-probe" --port "$pop3_port" --user demo get 1
kill "$server_pid"
wait "$server_pid" 2>/dev/null || true
trap - EXIT
echo "Demo mail server stopped."
