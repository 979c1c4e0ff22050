#!/usr/bin/env bash
# `mailservers.sh stop` against a master that ends on TERM but stays a zombie, because its parent
# never collects it (as a harness that inherited the daemons may not while it waits for stop):
# stop must take the zombie as ended at once, not wait out its bound and then try to kill it.
#   servers_stop_zombie_test.sh MAILSERVERS_SH
# Needs neither root nor the servers: the master is a stand-in named in the pid file.
set -euo pipefail

servers=${1:?usage: $0 MAILSERVERS_SH}
bound_s=20 # below the 30 s that stop allows a master that ignores TERM

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

state="$(mktemp -d)"
parent=""
cleanup() {
  if [[ -n "$parent" ]]; then
    kill -KILL "$parent" 2>/dev/null || true
    wait "$parent" 2>/dev/null || true
  fi
  rm -rf "$state"
}
trap cleanup EXIT
mkdir -p "$state/dovecot"

# The stand-in master carries the configuration's path on its command line, as the real one does;
# its parent prints its pid and then blocks without ever waiting for it.
coproc holder {
  exec perl -e '$| = 1; my $pid = fork // die "fork: $!";
                if (!$pid) { exec @ARGV or die "exec: $!" }
                print "$pid\n"; sleep;' \
    perl -e sleep -- -c "$state/dovecot/dovecot.conf"
}
# shellcheck disable=SC2154 # holder_PID is set by coproc
parent=$holder_PID
read -r -t "$bound_s" master <&"${holder[0]}" || fail "the stand-in master did not start"
echo "$master" >"$state/dovecot.pid"

started=$SECONDS
err="$(timeout "$bound_s" "$servers" stop "$state" 2>&1 >/dev/null)" ||
  fail "stop did not end within $bound_s s (status $?): $err"
[[ "$err" != *"ignored TERM"* ]] || fail "stop waited for a zombie: $err"
[[ ! -e "$state/dovecot.pid" ]] || fail "stop left the pid file"
# The stand-in got TERM from stop and is a zombie now, its parent still not waiting.
read -r stat <"/proc/$master/stat" || fail "the stand-in master was collected by someone"
stat="${stat##*) }"
[[ "${stat%% *}" == Z ]] || fail "the stand-in master is not a zombie (state ${stat%% *})"
echo "stop took a zombie master as ended in $((SECONDS - started)) s"
