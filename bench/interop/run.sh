#!/usr/bin/env bash
# Measures Dovrik's mail engine against curl on the same private Dovecot and Postfix, in one run:
#   bench/interop/run.sh [BUILD_DIR] [RUNS]        (defaults: build/default, 11)
# DOVRIK_BENCH_CASES="check retr send tls" picks the groups to run (default: all four; tls is
# check over POP3S, RETR of 20 MB over POP3S with peak memory, and a send over STARTTLS with login).
# Prints a table of medians (milliseconds; peak resident memory in MiB) and the ratio to curl.
# Needs root (the servers run under their own accounts and the Maildir is filled directly).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="$(cd "${1:-$root/build/default}" && pwd)"
runs="${2:-11}"
probe="$build/tools/probe/dovrik-probe"
[[ -x "$probe" ]] || cmake --build "$build" --target dovrik-probe >/dev/null
state="$build/bench/interop-state"
work="$build/bench/interop-work"
servers="$root/tools/interop/mailservers.sh"

mkdir -p "$work"
"$servers" start "$state" >/dev/null
trap '"$servers" stop "$state" >/dev/null' EXIT
# shellcheck disable=SC1091
source "$state/servers.env"
pass="$DOVRIK_MAIL_PASSWORD"
pop3_url="pop3://127.0.0.1:$DOVRIK_POP3_PORT"
smtp_url="smtp://127.0.0.1:$DOVRIK_SMTP_PORT"

probe_pop3() { "$probe" --server 127.0.0.1 --port "$DOVRIK_POP3_PORT" --user "$DOVRIK_MAIL_USER" --timeout 60 "$@"; }
probe_smtp() { "$probe" --server 127.0.0.1 --port "$DOVRIK_SMTP_PORT" --user "$DOVRIK_MAIL_USER" --timeout 60 "$@"; }
curl_pop3() { curl -sS --fail -u "$DOVRIK_MAIL_USER:$pass" "$@"; }

# --- mailbox filling -------------------------------------------------------------------------

empty_maildir() { find "$DOVRIK_MAILDIR/new" "$DOVRIK_MAILDIR/cur" "$DOVRIK_MAILDIR/tmp" -type f -delete; }

# fill COUNT BODY_BYTES: COUNT messages with a body of about BODY_BYTES in 76-character lines.
# File names are never reused: the server caches sizes by name, as Maildir names are unique.
fills=0
fill() {
  local count=$1 bytes=$2
  fills=$((fills + 1))
  empty_maildir
  perl -e '
    my ($dir, $count, $bytes, $tag) = @ARGV;
    my $line = ("m" x 75) . "\n";
    my $body = $line x int($bytes / 76);
    for my $i (1 .. $count) {
      my $name = sprintf("%d.bench%06d.%s.dovrik", 1700000000 + $i, $i, $tag);
      open(my $f, ">", "$dir/tmp/$name") or die "$!";
      print $f "From: Bench <bench\@example.test>\nTo: tester\@dovrik.test\n",
               "Subject: bench message $i\nDate: Mon, 7 Dec 2026 10:11:12 +0000\n\n", $body;
      close($f);
      rename("$dir/tmp/$name", "$dir/new/$name") or die "$!";
    }' "$DOVRIK_MAILDIR" "$count" "$bytes" "$$-$EPOCHSECONDS-$fills"
  chown -R "$DOVRIK_MAIL_ACCOUNT:$DOVRIK_MAIL_ACCOUNT" "$DOVRIK_MAILDIR"
  # Let the server index the new files once, outside the measurement.
  curl_pop3 "$pop3_url/" -X STAT -I >/dev/null
}

# --- measuring -------------------------------------------------------------------------------

median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Wall-clock milliseconds of one command, output discarded.
elapsed_ms() {
  local t0=$EPOCHREALTIME
  "$@" >/dev/null 2>&1 </dev/null || { echo "command failed: $*" >&2; return 1; }
  local t1=$EPOCHREALTIME
  awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f\n", (b - a) * 1000 }'
}

# Peak resident memory of one case function, in MiB: the case runs its command under
# /usr/bin/time through $wrap.
peak_mib() {
  wrap=(/usr/bin/time -f %M -o "$work/rss")
  "$@" >/dev/null 2>&1 </dev/null || { echo "command failed: $*" >&2; return 1; }
  wrap=()
  awk '{ printf "%.1f\n", $1 / 1024 }' "$work/rss"
}
wrap=()

# The engine in a resident process: per-run times from Check to OnActionDone, as the probe reports.
resident_ms() { # probe-args...
  probe_pop3 --repeat "$runs" "$@" <<<"$pass" 2>"$work/repeat" >/dev/null
  sed -n 's/^ms=//p' "$work/repeat" | median
}

# Alternates the two commands RUNS times and prints "median_a median_b".
pair_ms() { # name_a name_b (functions that run one command each)
  local i a=() b=()
  for ((i = 0; i < runs; i++)); do
    a+=("$(elapsed_ms "$1")")
    b+=("$(elapsed_ms "$2")")
  done
  [[ -z "${DOVRIK_BENCH_SAMPLES:-}" ]] || echo "$1: ${a[*]} / $2: ${b[*]}" >&2
  echo "$(printf '%s\n' "${a[@]}" | median) $(printf '%s\n' "${b[@]}" | median)"
}

pair_mib() {
  local i a=() b=()
  for ((i = 0; i < 3; i++)); do
    a+=("$(peak_mib "$1")")
    b+=("$(peak_mib "$2")")
  done
  echo "$(printf '%s\n' "${a[@]}" | median) $(printf '%s\n' "${b[@]}" | median)"
}

rows=()
row() { # case dovrik curl unit goal [divisor (default: the curl figure)]
  local ratio
  ratio="$(awk -v d="$2" -v c="${6:-$3}" 'BEGIN { if (c > 0) printf "%.2f", d / c; else print "-" }')"
  rows+=("$(printf '%-36s %10s %10s %-4s %6s   %s' "$1" "$2" "$3" "$4" "$ratio" "$5")")
}

# --- the cases -------------------------------------------------------------------------------

dovrik_check() { probe_pop3 check <<<"$pass"; }
curl_check() { curl_pop3 "$pop3_url/" -X STAT -I; }
curl_list() { curl_pop3 "$pop3_url/"; }
dovrik_get() {
  "${wrap[@]}" "$probe" --server 127.0.0.1 --port "$DOVRIK_POP3_PORT" --user "$DOVRIK_MAIL_USER" \
    --timeout 60 --out "$work/retr-dovrik" get 1 <<<"$pass"
}
curl_get() { "${wrap[@]}" curl -sS --fail -u "$DOVRIK_MAIL_USER:$pass" -o "$work/retr-curl" "$pop3_url/1"; }
dovrik_send() { probe_smtp send bench@example.test "$DOVRIK_MAIL_ADDRESS" "$work/send10k"; }
curl_send() { curl -sS --fail "$smtp_url" --mail-from bench@example.test --mail-rcpt "$DOVRIK_MAIL_ADDRESS" -T "$work/send10k"; }

# The same over TLS: POP3S, and submission with STARTTLS and a login; both trust the test authority.
pop3s_url="pop3s://127.0.0.1:$DOVRIK_POP3S_PORT"
probe_pop3s() {
  "${wrap[@]}" "$probe" --server 127.0.0.1 --port "$DOVRIK_POP3S_PORT" --user "$DOVRIK_MAIL_USER" \
    --timeout 60 --in-security tls --ca-file "$DOVRIK_TLS_CA" "$@" <<<"$pass"
}
dovrik_check_tls() { probe_pop3s check; }
curl_check_tls() { curl_pop3 --cacert "$DOVRIK_TLS_CA" "$pop3s_url/" -X STAT -I; }
dovrik_get_tls() { probe_pop3s --out "$work/retr-dovrik" get 1; }
dovrik_get_plain() { dovrik_get; }
curl_get_tls() {
  "${wrap[@]}" curl -sS --fail --cacert "$DOVRIK_TLS_CA" -u "$DOVRIK_MAIL_USER:$pass" \
    -o "$work/retr-curl" "$pop3s_url/1"
}
dovrik_send_tls() {
  "$probe" --server 127.0.0.1 --port "$DOVRIK_SUBMISSION_PORT" --user "$DOVRIK_MAIL_USER" \
    --timeout 60 --out-security starttls --ca-file "$DOVRIK_TLS_CA" \
    send bench@example.test "$DOVRIK_MAIL_ADDRESS" "$work/send10k" <<<"$pass"
}
curl_send_tls() {
  curl -sS --fail --ssl-reqd --cacert "$DOVRIK_TLS_CA" -u "$DOVRIK_MAIL_USER:$pass" \
    "smtp://127.0.0.1:$DOVRIK_SUBMISSION_PORT" --mail-from bench@example.test \
    --mail-rcpt "$DOVRIK_MAIL_ADDRESS" -T "$work/send10k"
}

cases=" ${DOVRIK_BENCH_CASES:-check retr send tls} "
for count in 10 1000; do
  [[ "$cases" == *" check "* ]] || break
  fill "$count" 2000
  read -r d c <<<"$(pair_ms dovrik_check curl_check)"
  read -r d2 l <<<"$(pair_ms dovrik_check curl_list)"
  r="$(resident_ms check)"
  row "check $count msgs, resident (ms)" "$r" "$c" ms "info: Check to OnActionDone"
  row "check $count msgs, process (ms)" "$d" "$c" ms "<= 1.00 (curl -X STAT -I)"
  row "check $count msgs vs curl LIST (ms)" "$d2" "$l" ms "info (curl's plain LIST)"
done

for size in 1 20; do
  [[ "$cases" == *" retr "* ]] || break
  fill 1 $((size * 1024 * 1024))
  read -r d c <<<"$(pair_ms dovrik_get curl_get)"
  read -r dm cm <<<"$(pair_mib dovrik_get curl_get)"
  goal_t="info"
  goal_m="info: ratio to the message size"
  if ((size == 20)); then
    goal_t="<= 1.20"
    goal_m="<= 3.00 x message size"
  fi
  row "RETR $size MB (ms)" "$d" "$c" ms "$goal_t"
  row "RETR $size MB peak memory (MiB)" "$dm" "$cm" MiB "$goal_m" "$size"
  r="$(resident_ms --out "$work/retr-resident" get 1)"
  row "RETR $size MB, resident (ms)" "$r" "$c" ms "info: Check to OnActionDone"
done

[[ "$cases" == *" send "* ]] && {
empty_maildir
perl -e 'print "From: bench\@example.test\r\nTo: tester\@dovrik.test\r\nSubject: ten kilobytes\r\n\r\n";
         print(("s" x 78) . "\r\n") for 1 .. 128;' >"$work/send10k"
read -r d c <<<"$(pair_ms dovrik_send curl_send)"
row "send 10 KB (ms)" "$d" "$c" ms "<= 1.00 (curl smtp:// -T)"
}

[[ "$cases" == *" tls "* ]] && {
fill 10 2000
read -r d c <<<"$(pair_ms dovrik_check_tls curl_check_tls)"
row "check 10 msgs over POP3S (ms)" "$d" "$c" ms "<= 1.00 (curl pop3s:// -X STAT -I)"
fill 1 $((20 * 1024 * 1024))
read -r d c <<<"$(pair_ms dovrik_get_tls curl_get_tls)"
row "RETR 20 MB over POP3S (ms)" "$d" "$c" ms "<= 1.20"
read -r dm cm <<<"$(pair_mib dovrik_get_tls curl_get_tls)"
read -r pm _ <<<"$(pair_mib dovrik_get_plain curl_get)"
row "RETR 20 MB over POP3S peak (MiB)" "$dm" "$cm" MiB "info: ratio to the message size" 20
# At most one more copy of the message than the plain path: TLS peak - plain peak <= 1 x size.
row "  same, minus plain RETR peak (MiB)" "$(awk -v a="$dm" -v b="$pm" 'BEGIN { printf "%.1f", a - b }')" "$pm" MiB "<= 1.00 x message size" 20
[[ -f "$work/send10k" ]] || perl -e 'print "From: bench\@example.test\r\nTo: tester\@dovrik.test\r\nSubject: ten kilobytes\r\n\r\n";
         print(("s" x 78) . "\r\n") for 1 .. 128;' >"$work/send10k"
empty_maildir
read -r d c <<<"$(pair_ms dovrik_send_tls curl_send_tls)"
row "send 10 KB, STARTTLS + login (ms)" "$d" "$c" ms "<= 1.00 (curl --ssl-reqd -u)"
}

printf '%-36s %10s %10s %-4s %6s   %s\n' "case (medians of $runs)" "Dovrik" "curl" "unit" "ratio" "goal"
printf '%s\n' "${rows[@]}"
