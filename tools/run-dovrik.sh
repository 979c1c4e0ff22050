#!/usr/bin/env bash
# Installs what is missing, builds Dovrik and starts it.
#
#   tools/run-dovrik.sh          on a desktop: Dovrik with your own settings
#   tools/run-dovrik.sh --demo   on a desktop: Dovrik against the demo mail server on loopback,
#                                with a private settings store made for it (user and password
#                                are printed), so every command can be tried at once
#   tools/run-dovrik.sh --walk   the demo on a virtual desktop (Xvfb with a tray panel), walked
#                                through by itself with screenshots; what runs without a display
#
# Without a display (no DISPLAY or WAYLAND_DISPLAY: a fresh server, CI) it always walks.
set -euo pipefail
cd "$(dirname "$0")/.."

mode=desktop
case "${1:-}" in
  "") ;;
  --demo) mode=demo ;;
  --walk) mode=walk ;;
  *) echo "usage: $0 [--demo|--walk]" >&2; exit 2 ;;
esac
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
  [[ $mode == walk ]] || echo "No display here: the demo runs on a virtual desktop instead."
  mode=walk
fi

tools/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default

bin="$(find build/default -maxdepth 3 -type f -name dovrik -perm -u+x | head -n 1)"
mailserver=build/default/tools/mailserver/dovrik-mailserver
store_tool=build/default/tools/store/dovrik-store
[[ -n "$bin" ]] || { echo "the build made no dovrik program" >&2; exit 1; }

if [[ $mode == desktop ]]; then
  exec "$bin"
fi

if [[ $mode == walk ]]; then
  out="$PWD/build/default/screenshots"
  rm -rf "$out"
  exec /usr/bin/python3 tools/e2e/demo_walk.py --bin "$bin" --mailserver "$mailserver" --out "$out"
fi

# --demo: the demo mail server on free loopback ports and a settings store of its own.
store="$(mktemp -d)"
coproc MAIL { exec "$mailserver" --user demo --pass demo; }
server_pid=$MAIL_PID
trap 'kill "$server_pid" 2>/dev/null || true; rm -rf "$store"' EXIT
trap 'exit 143' TERM INT HUP
read -r _ pop3_port <&"${MAIL[0]}"
read -r _ smtp_port <&"${MAIL[0]}"
XDG_CONFIG_HOME="$store" "$store_tool" set-settings 127.0.0.1 "$pop3_port" demo NoMorePass 60 20 1 \
  127.0.0.1 "$smtp_port" 1 1 1 "Demo User <demo@example.invalid>"
echo "Demo mail server on 127.0.0.1: POP3 port $pop3_port, SMTP port $smtp_port."
echo "User: demo   Password: demo   (three messages wait; mail you send is accepted and dropped)"
echo "Dovrik is in the tray; its settings live in $store until it ends."
status=0
XDG_CONFIG_HOME="$store" "$bin" || status=$?
echo "Dovrik ended (exit code $status); demo mail server stopped."
exit "$status"
