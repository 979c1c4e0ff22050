#!/usr/bin/env bash
# Runs the engine benchmarks against the test mail server on loopback.
#   bench/engine/run_bench.sh [BUILD_DIR]     (default build/default)
set -euo pipefail
cd "$(dirname "$0")/../.."
build="${1:-build/default}"
bench="$build/bench/engine/bench_engine"
server="$build/tools/mailserver/dovrik-mailserver"

"$bench" check 500

coproc MAIL { exec "$server" --no-samples --message-size 1048576 --message-size 20971520; }
server_pid=$MAIL_PID
trap 'kill "$server_pid" 2>/dev/null || true' EXIT
read -r _ port <&"${MAIL[0]}"
for n in 1 2; do
  for how in plain engine plain engine plain engine; do
    "$bench" retr "$port" "$n" "$how"
  done
done
