#!/usr/bin/env bash
# The program's own figures on a virtual desktop with a tray, against the test mail server on
# loopback, with stored settings:
#   - from exec to the tray icon docked in the panel (median of RUNS starts);
#   - idle in the tray after the first check: CPU time and wake-ups (times scheduled, all
#     threads) over IDLE seconds, and resident memory.
#   app_bench.sh <build dir> [RUNS=11] [IDLE=60]
build="$(cd "$1" && pwd)"
runs="${2:-11}"
idle="${3:-60}"
tmp="$(mktemp -d)"
source "$(dirname "$0")/../../tests/app/app_lib.sh"
need_tools Xvfb trayer xwininfo ss

start_desktop tray
start_mailserver
now_ms() { echo $(($(date +%s%N) / 1000000)); }

# CPU time of all the process's threads so far, in ms (schedstat: nanoseconds on a CPU).
cpu_ms_of() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ns += $1} END {printf "%d", ns / 1e6}'; }
times=()
cpus=()
for ((r = 0; r < runs; r++)); do
  store_settings 240
  panel_before=$(panel_windows)
  t0=$(now_ms)
  start_app "start$r"
  until icon_docked; do
    (($(now_ms) - t0 < 20000)) || fail "no icon after 20 s"
  done
  times+=($(($(now_ms) - t0)))
  cpus+=($(cpu_ms_of "$app_pid"))
  kill -TERM "$app_pid"
  wait_for 20 gone "$app_pid" || fail "no end after SIGTERM"
  wait "$app_pid" 2>/dev/null || true
  wait_for 10 test "$(panel_windows)" -le "$panel_before" || fail "the icon stays"
done
sorted=($(printf '%s\n' "${times[@]}" | sort -n))
echo "exec -> tray icon docked, ms, $runs starts: ${sorted[*]}"
echo "  median ${sorted[$((runs / 2))]} ms (includes ~5 ms of polling the X tree; load now: $(cut -d' ' -f1-3 /proc/loadavg))"
sorted=($(printf '%s\n' "${cpus[@]}" | sort -n))
echo "CPU time of the program until its icon docked, ms: ${sorted[*]}; median ${sorted[$((runs / 2))]} ms"

# Idle: one copy, after its first check has ended (the check's connection closed).
store_settings 240
panel_before=$(panel_windows)
start_app idle
pid=$app_pid
step "the tray icon" 20 icon_docked
check_done() {
  local conns
  conns=$(ss -tan "( sport = :$pop3_port or dport = :$pop3_port )")
  grep -q TIME-WAIT <<<"$conns" && ! grep -Eq 'ESTAB|SYN|FIN|CLOSE' <<<"$conns"
}
step "the first check done" 20 check_done
sleep 1  # let start-up work settle; what follows is measured, nothing waits on it

cpu_ticks() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
runs_of_threads() { cat /proc/"$pid"/task/*/schedstat | awk '{n += $3} END {print n}'; }
threads() { ls /proc/"$pid"/task | wc -l; }
rss_kib() { awk '/^VmRSS/{print $2}' "/proc/$pid/status"; }
per_thread() {
  local t
  for t in /proc/"$pid"/task/*; do
    printf '%s=%s ' "$(cat "$t/comm")" "$(awk '{print $3}' "$t/schedstat")"
  done
}
c0=$(cpu_ticks)
w0=$(runs_of_threads)
p0=$(per_thread)
sleep "$idle"
c1=$(cpu_ticks)
w1=$(runs_of_threads)
p1=$(per_thread)
hz=$(getconf CLK_TCK)
echo "idle in the tray for ${idle} s (check every 240 s): CPU $(((c1 - c0) * 1000 / hz)) ms," \
  "wake-ups $((w1 - w0)) over $(threads) threads"
echo "  per thread before: $p0"
echo "  per thread after:  $p1"
echo "resident memory idle after the first check: $(($(rss_kib) / 1024)) MiB ($(rss_kib) KiB)"
