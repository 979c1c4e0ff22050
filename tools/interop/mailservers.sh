#!/usr/bin/env bash
# Runs a private Dovecot (POP3) and Postfix (SMTP) on free loopback ports for interoperability tests
# and benchmarks. Everything they keep lives in STATEDIR; nothing is started through the init
# system, and `stop` ends exactly the two master processes that `start` left in STATEDIR's pid files.
#
#   mailservers.sh start STATEDIR   install if missing, configure, start; prints the environment
#   mailservers.sh env STATEDIR     prints DOVRIK_* variables (ports, user, password, Maildir)
#   mailservers.sh stop STATEDIR    stops both servers and waits for them to be gone
#   mailservers.sh status STATEDIR  exit 0 if both masters are alive
#
# Mail for $DOVRIK_MAIL_ADDRESS sent to the SMTP port is delivered by Postfix's virtual agent into
# the Maildir that Dovecot serves to $DOVRIK_MAIL_USER. Both deliver as the system account
# dovrikmail, because neither delivers mail as root.
#
# Encrypted ports, with a test authority made at start in STATEDIR/tls (ca.pem; never kept in the
# repository): a second Dovecot instance with ssl = required serves POP3S ($DOVRIK_POP3S_PORT) and
# POP3 with STLS ($DOVRIK_POP3_STLS_PORT), and its auth service is Postfix's SASL backend; Postfix
# adds SMTPS ($DOVRIK_SMTPS_PORT) and submission with STARTTLS ($DOVRIK_SUBMISSION_PORT), both of
# which accept mail only after a login. The plain ports stay as they were.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"

mail_account=dovrikmail
mail_user=tester
mail_password=dovrik-secret
mail_domain=dovrik.test
start_bound_s=20
stop_bound_s=30

die() { echo "mailservers: $*" >&2; exit 1; }

usage() { die "usage: $0 start|stop|env|status STATEDIR"; }

# A port on 127.0.0.1 that nothing listens on right now (the kernel picks it).
free_port() {
  perl -MIO::Socket::INET -e \
    'my $s = IO::Socket::INET->new(LocalAddr => "127.0.0.1", LocalPort => 0, Listen => 1, ReuseAddr => 1) or die "$!\n"; print $s->sockport, "\n";'
}

# True once a TCP connection to 127.0.0.1:$1 succeeds.
port_accepts() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# Waits until the port accepts, at most $2 seconds, polling while the process $3 is alive.
wait_for_port() {
  local port=$1 pid=$3 deadline=$((SECONDS + $2))
  until port_accepts "$port"; do
    pid_alive "$pid" || return 1
    ((SECONDS < deadline)) || return 1
    sleep 0.05
  done
}

# A zombie has ended: only its parent has not collected it yet. A harness that is a subreaper
# inherits the daemons and may not collect them while it waits for this script; `kill -0`
# succeeds on a zombie and would have us wait out every bound.
pid_alive() {
  local stat
  [[ -n "${1:-}" ]] || return 1
  { read -r stat <"/proc/$1/stat"; } 2>/dev/null || return 1
  stat="${stat##*) }"
  [[ "${stat%% *}" != [ZX] ]]
}

read_pid() { [[ -f "$1" ]] && tr -dc '0-9' <"$1" || true; }

ensure_installed() {
  if [[ -x /usr/sbin/dovecot && -x /usr/sbin/postfix && -x /usr/lib/dovecot/pop3 ]]; then
    return 0
  fi
  "$root/tools/install-deps.sh"
  [[ -x /usr/sbin/dovecot && -x /usr/sbin/postfix && -x /usr/lib/dovecot/pop3 ]] ||
    die "dovecot-pop3d and postfix are not installed"
}

ensure_account() {
  if ! id -u "$mail_account" >/dev/null 2>&1; then
    useradd --system --user-group --no-create-home --home-dir /nonexistent \
      --shell /usr/sbin/nologin "$mail_account"
  fi
}

# Every folder above the Maildir must be passable for the mail account and for postfix.
reachable() {
  local dir=$1 who
  for who in "$mail_account" postfix; do
    runuser -u "$who" -- test -x "$dir" || return 1
  done
}

# A build tree below a private folder (a home directory with mode 700, say) can't hold a Maildir
# the servers' accounts reach. Then the state lives in a folder under /tmp and the build tree
# keeps a link to it, so that the same STATEDIR still finds everything.
place_state() {
  local state=$1 real
  if [[ -L "$state" ]]; then
    real="$(readlink -f "$state")"
    mkdir -p "$real"
  else
    mkdir -p "$state"
    reachable "$state" && return 0
    rmdir "$state" 2>/dev/null || die "$state is not reachable by $mail_account and not empty"
    real="$(mktemp -d /tmp/dovrik-mailstate.XXXXXX)"
    ln -s "$real" "$state"
    echo "mailservers: $state is not reachable by $mail_account; state kept in $real" >&2
  fi
  chmod 0755 "$real"
  reachable "$real" || die "$real is not reachable by the accounts $mail_account and postfix"
}

write_env() {
  local state=$1 pop3_port=$2 smtp_port=$3  # then pop3s, stls, smtps and submission ports
  cat >"$state/servers.env" <<ENV
DOVRIK_POP3_PORT=$pop3_port
DOVRIK_SMTP_PORT=$smtp_port
DOVRIK_MAIL_USER=$mail_user
DOVRIK_MAIL_PASSWORD=$mail_password
DOVRIK_MAIL_ADDRESS=$mail_user@$mail_domain
DOVRIK_MAILDIR=$state/mail/$mail_user/Maildir
DOVRIK_MAIL_ACCOUNT=$mail_account
DOVRIK_MAIL_STATE=$state
DOVRIK_POP3S_PORT=$4
DOVRIK_POP3_STLS_PORT=$5
DOVRIK_SMTPS_PORT=$6
DOVRIK_SUBMISSION_PORT=$7
DOVRIK_TLS_CA=$state/tls/ca.pem
ENV
}

# A test authority and a server certificate for 127.0.0.1 and localhost, made fresh at every start.
make_certificates() {
  local t="$1/tls"
  rm -rf "$t"
  mkdir -p "$t"
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 30 \
    -subj "/O=Dovrik interop/CN=Dovrik interop authority" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
    -keyout "$t/ca.key" -out "$t/ca.pem" 2>/dev/null
  openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes \
    -subj "/O=Dovrik interop/CN=localhost" -keyout "$t/server.key" -out "$t/server.csr" 2>/dev/null
  printf 'subjectAltName=DNS:localhost,IP:127.0.0.1\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' >"$t/ext"
  openssl x509 -req -in "$t/server.csr" -CA "$t/ca.pem" -CAkey "$t/ca.key" -CAcreateserial \
    -days 30 -extfile "$t/ext" -out "$t/server.pem" 2>/dev/null
  rm -f "$t/ca.key" "$t/server.csr" "$t/ext" "$t/ca.srl"
  chown root:postfix "$t/server.key"
  chmod 0640 "$t/server.key"
  chmod 0644 "$t/ca.pem" "$t/server.pem"
}

configure_dovecot() {
  local state=$1 port=$2 short=$3 d="$1/dovecot" base="$3/dovecot/run"
  mkdir -p "$d/lib" "$base"
  printf '%s:{PLAIN}%s::::::nodelay=y\n' "$mail_user" "$mail_password" >"$d/users"
  chown root:dovecot "$d/users"
  chmod 0640 "$d/users"
  cat >"$d/dovecot.conf" <<CONF
# Private POP3 server of the interoperability tests; loopback only.
instance_name = dovrik-$port
base_dir = $base
state_dir = $d/lib
log_path = $d/dovecot.log
protocols = pop3
listen = 127.0.0.1
ssl = no
disable_plaintext_auth = no
auth_mechanisms = plain
# A refused password must not slow the following logins (tests try wrong passwords on purpose).
auth_failure_delay = 0
first_valid_uid = 1
mail_location = maildir:~/Maildir
passdb {
  driver = passwd-file
  args = scheme=PLAIN username_format=%n $d/users
}
userdb {
  driver = static
  args = uid=$mail_account gid=$mail_account home=$state/mail/%n
}
service pop3-login {
  inet_listener pop3 {
    address = 127.0.0.1
    port = $port
  }
  inet_listener pop3s {
    port = 0
  }
}
service anvil {
  unix_listener anvil-auth-penalty {
    mode = 0
  }
}
CONF
}

# The encrypted instance: same users and Maildir, TLS required, and the auth service Postfix asks.
configure_dovecot_tls() {
  local state=$1 pop3s=$2 stls=$3 auth=$4 short=$5 d="$1/dovecot" base="$5/dovecot/run-tls"
  mkdir -p "$d/lib-tls" "$base"
  cat >"$d/dovecot-tls.conf" <<CONF
# Private encrypted POP3 server of the interoperability tests; loopback only.
instance_name = dovrik-tls-$pop3s
base_dir = $base
state_dir = $d/lib-tls
log_path = $d/dovecot-tls.log
protocols = pop3
listen = 127.0.0.1
ssl = required
ssl_cert = <$state/tls/server.pem
ssl_key = <$state/tls/server.key
ssl_min_protocol = TLSv1.2
disable_plaintext_auth = yes
auth_mechanisms = plain login
auth_failure_delay = 0
first_valid_uid = 1
mail_location = maildir:~/Maildir
passdb {
  driver = passwd-file
  args = scheme=PLAIN username_format=%n $d/users
}
userdb {
  driver = static
  args = uid=$mail_account gid=$mail_account home=$state/mail/%n
}
service pop3-login {
  inet_listener pop3 {
    address = 127.0.0.1
    port = $stls
  }
  inet_listener pop3s {
    address = 127.0.0.1
    port = $pop3s
    ssl = yes
  }
}
service auth {
  inet_listener postfix-sasl {
    address = 127.0.0.1
    port = $auth
  }
}
service anvil {
  unix_listener anvil-auth-penalty {
    mode = 0
  }
}
CONF
}

configure_postfix() {
  local state=$1 port=$2 short=$3 smtps=$4 submission=$5 auth=$6 p="$1/postfix" uid gid
  uid="$(id -u "$mail_account")"
  gid="$(id -g "$mail_account")"
  # The configuration folder must hold nothing but root's files, so queue and data sit beside it.
  mkdir -p "$p/etc" "$short/postfix/queue" "$p/data"
  chown postfix "$p/data"
  printf '%s@%s %s/Maildir/\n' "$mail_user" "$mail_domain" "$mail_user" >"$p/etc/vmailbox"
  cat >"$p/etc/main.cf" <<CONF
# Private SMTP server of the interoperability tests; loopback only, delivers to one Maildir.
compatibility_level = 3.6
queue_directory = $short/postfix/queue
data_directory = $p/data
maillog_file = $p/maillog
maillog_file_prefixes = $p
myhostname = localhost.$mail_domain
mydomain = $mail_domain
myorigin = \$myhostname
inet_interfaces = 127.0.0.1
inet_protocols = ipv4
mynetworks = 127.0.0.0/8
mydestination =
relay_domains =
local_recipient_maps =
local_transport = error:no local delivery
default_transport = error:no outgoing mail
relay_transport = error:no relaying
smtp_dns_support_level = disabled
smtpd_peername_lookup = no
biff = no
smtputf8_enable = no
message_size_limit = 67108864
mailbox_size_limit = 0
virtual_mailbox_limit = 0
virtual_mailbox_domains = $mail_domain
virtual_mailbox_base = $state/mail
virtual_mailbox_maps = texthash:$p/etc/vmailbox
virtual_minimum_uid = 1
virtual_uid_maps = static:$uid
virtual_gid_maps = static:$gid
# Encryption and login only where master.cf turns them on (SMTPS and submission).
smtpd_tls_security_level = none
smtpd_tls_cert_file = $state/tls/server.pem
smtpd_tls_key_file = $state/tls/server.key
smtpd_tls_mandatory_protocols = >=TLSv1.2
smtpd_sasl_type = dovecot
smtpd_sasl_path = inet:127.0.0.1:$auth
CONF
  cat >"$p/etc/master.cf" <<CONF
# service          type  private unpriv chroot wakeup maxproc command
127.0.0.1:$port    inet  n       -      n      -      -       smtpd
127.0.0.1:$submission inet n     -      n      -      -       smtpd
  -o smtpd_tls_security_level=encrypt
  -o smtpd_sasl_auth_enable=yes
  -o smtpd_tls_auth_only=yes
  -o smtpd_client_restrictions=permit_sasl_authenticated,reject
127.0.0.1:$smtps   inet  n       -      n      -      -       smtpd
  -o smtpd_tls_wrappermode=yes
  -o smtpd_sasl_auth_enable=yes
  -o smtpd_client_restrictions=permit_sasl_authenticated,reject
tlsmgr             unix  -       -      n      1000?  1       tlsmgr
cleanup            unix  n       -      n      -      0       cleanup
qmgr               unix  n       -      n      300    1       qmgr
rewrite            unix  -       -      n      -      -       trivial-rewrite
bounce             unix  -       -      n      -      0       bounce
defer              unix  -       -      n      -      0       bounce
trace              unix  -       -      n      -      0       bounce
verify             unix  -       -      n      -      1       verify
flush              unix  n       -      n      1000?  0       flush
proxymap           unix  -       -      n      -      -       proxymap
showq              unix  n       -      n      -      -       showq
error              unix  -       -      n      -      -       error
retry              unix  -       -      n      -      -       error
discard            unix  -       -      n      -      -       discard
anvil              unix  -       -      n      -      1       anvil
scache             unix  -       -      n      -      1       scache
virtual            unix  -       n      n      -      -       virtual
postlog            unix-dgram n  -      n      -      1       postlogd
CONF
}

start() {
  local state=$1
  # The servers run under their own accounts, which only root can arrange; 77 tells ctest "skipped".
  if [[ $(id -u) -ne 0 ]]; then
    echo "mailservers: needs root" >&2
    exit 77
  fi
  if status "$state"; then
    echo "mailservers: already running in $state" >&2
    cat "$state/servers.env"
    return 0
  fi
  stop "$state" >/dev/null 2>&1 || true
  ensure_installed
  ensure_account
  place_state "$state"
  state="$(cd "$state" && pwd -P)"

  local pop3_port smtp_port maildir="$state/mail/$mail_user/Maildir"
  local pop3s_port stls_port smtps_port submission_port auth_port p taken=" "
  for p in pop3_port smtp_port pop3s_port stls_port smtps_port submission_port auth_port; do
    local n
    n="$(free_port)"
    while [[ "$taken" == *" $n "* ]]; do n="$(free_port)"; done
    taken+="$n "
    printf -v "$p" '%s' "$n"
  done

  mkdir -p "$maildir/cur" "$maildir/new" "$maildir/tmp"
  chown -R "$mail_account:$mail_account" "$state/mail"
  chmod 0700 "$state/mail/$mail_user"

  # Unix socket paths are limited to 107 bytes. Under a deep build tree the folders that hold
  # sockets (Dovecot's run folder, Postfix's queue) live in a short folder under /tmp instead,
  # linked from the state folder; `stop` removes it.
  local short="$state"
  rm -rf "$state/dovecot/run" "$state/dovecot/run-tls" "$state/postfix/queue"
  if ((${#state} > 40)); then
    short="$(mktemp -d /tmp/dovrik-ms.XXXXXX)"
    chmod 0755 "$short"
    echo "$short" >"$state/short-dir"
    mkdir -p "$state/dovecot" "$state/postfix" "$short/dovecot/run" "$short/dovecot/run-tls" \
      "$short/postfix/queue"
    ln -s "$short/dovecot/run" "$state/dovecot/run"
    ln -s "$short/dovecot/run-tls" "$state/dovecot/run-tls"
    ln -s "$short/postfix/queue" "$state/postfix/queue"
  fi
  make_certificates "$state"
  configure_dovecot "$state" "$pop3_port" "$short"
  configure_dovecot_tls "$state" "$pop3s_port" "$stls_port" "$auth_port" "$short"
  configure_postfix "$state" "$smtp_port" "$short" "$smtps_port" "$submission_port" "$auth_port"
  write_env "$state" "$pop3_port" "$smtp_port" "$pop3s_port" "$stls_port" "$smtps_port" \
    "$submission_port"

  /usr/sbin/dovecot -c "$state/dovecot/dovecot.conf" </dev/null >>"$state/dovecot/start.log" 2>&1 ||
    die "dovecot did not start; see $state/dovecot/dovecot.log"
  local base dpid
  base="$(/usr/bin/doveconf -c "$state/dovecot/dovecot.conf" -h base_dir)"
  dpid="$(read_pid "$base/master.pid")"
  echo "$dpid" >"$state/dovecot.pid"
  wait_for_port "$pop3_port" "$start_bound_s" "$dpid" ||
    die "dovecot does not accept on 127.0.0.1:$pop3_port; see $state/dovecot/dovecot.log"

  /usr/sbin/dovecot -c "$state/dovecot/dovecot-tls.conf" </dev/null >>"$state/dovecot/start.log" 2>&1 ||
    die "the encrypted dovecot did not start; see $state/dovecot/dovecot-tls.log"
  base="$(/usr/bin/doveconf -c "$state/dovecot/dovecot-tls.conf" -h base_dir)"
  dpid="$(read_pid "$base/master.pid")"
  echo "$dpid" >"$state/dovecot-tls.pid"
  for p in "$pop3s_port" "$stls_port" "$auth_port"; do
    wait_for_port "$p" "$start_bound_s" "$dpid" ||
      die "the encrypted dovecot does not accept on 127.0.0.1:$p; see $state/dovecot/dovecot-tls.log"
  done

  # `postfix start` creates the private queue folders with the owners Postfix wants.
  MAIL_CONFIG="$state/postfix/etc" /usr/sbin/postfix -c "$state/postfix/etc" start \
    </dev/null >>"$state/postfix/start.log" 2>&1 ||
    die "postfix did not start; see $state/postfix/start.log and $state/postfix/maillog"
  local ppid_file="$state/postfix/queue/pid/master.pid" ppid=""
  local deadline=$((SECONDS + start_bound_s))
  until [[ -n "$ppid" ]]; do
    ppid="$(read_pid "$ppid_file")"
    [[ -n "$ppid" ]] && break
    ((SECONDS < deadline)) || die "postfix wrote no pid file"
    sleep 0.05
  done
  echo "$ppid" >"$state/postfix.pid"
  for p in "$smtp_port" "$smtps_port" "$submission_port"; do
    wait_for_port "$p" "$start_bound_s" "$ppid" ||
      die "postfix does not accept on 127.0.0.1:$p; see $state/postfix/maillog"
  done
  cat "$state/servers.env"
}

# The pid in a pid file is ours only while that process still runs our configuration: a stale
# file (after a reboot, say) may name an unrelated process by now.
dovecot_pid() {
  local state=$1 pid
  pid="$(read_pid "$state/dovecot.pid")"
  pid_alive "$pid" || return 0
  tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -qF -- "-c $state/dovecot/dovecot.conf" &&
    echo "$pid"
  return 0
}

dovecot_tls_pid() {
  local state=$1 pid
  pid="$(read_pid "$state/dovecot-tls.pid")"
  pid_alive "$pid" || return 0
  tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -qF -- "-c $state/dovecot/dovecot-tls.conf" &&
    echo "$pid"
  return 0
}

# Postfix's master runs in its queue folder.
postfix_pid() {
  local state=$1 pid
  pid="$(read_pid "$state/postfix.pid")"
  pid_alive "$pid" || return 0
  [[ "$(readlink -f "/proc/$pid/cwd" 2>/dev/null)" == "$(readlink -f "$state/postfix/queue")" ]] &&
    echo "$pid"
  return 0
}

status() {
  local state=$1
  [[ -f "$state/servers.env" ]] || return 1
  [[ -n "$(dovecot_pid "$state")" && -n "$(dovecot_tls_pid "$state")" && -n "$(postfix_pid "$state")" ]]
}

# Sends TERM to one master we started, then waits (bounded) for it and its children to go;
# whatever is left of them after the bound gets KILL.
stop_master() {
  local pid=$1 what=$2 kids deadline
  pid_alive "$pid" || return 0
  # shellcheck disable=SC2207 # one pid per line
  kids=($(pgrep -P "$pid" || true))
  kill -TERM "$pid" 2>/dev/null || true
  deadline=$((SECONDS + stop_bound_s))
  while pid_alive "$pid"; do
    if ((SECONDS >= deadline)); then
      echo "mailservers: $what ($pid) ignored TERM; killing it" >&2
      kill -KILL "$pid" "${kids[@]}" 2>/dev/null || true
      break
    fi
    sleep 0.05
  done
  local k
  for k in "${kids[@]}"; do
    deadline=$((SECONDS + 5))
    while pid_alive "$k" && ((SECONDS < deadline)); do sleep 0.05; done
    pid_alive "$k" && kill -KILL "$k" 2>/dev/null || true
  done
}

stop() {
  local state=$1
  stop_master "$(postfix_pid "$state")" postfix
  stop_master "$(dovecot_pid "$state")" dovecot
  stop_master "$(dovecot_tls_pid "$state")" "encrypted dovecot"
  rm -f "$state/postfix.pid" "$state/dovecot.pid" "$state/dovecot-tls.pid"
  if [[ -f "$state/short-dir" ]]; then
    local short
    short="$(cat "$state/short-dir")"
    [[ "$short" == /tmp/dovrik-ms.* && -d "$short" ]] && rm -rf "$short"
    rm -f "$state/short-dir" "$state/dovecot/run" "$state/dovecot/run-tls" "$state/postfix/queue"
  fi
}

(($# == 2)) || usage
state_dir="$2"
[[ "$state_dir" == /* ]] || state_dir="$PWD/$state_dir"
if [[ "$1" != start ]]; then
  if [[ ! -d "$state_dir" ]]; then
    [[ "$1" == stop ]] && exit 0
    die "no servers in $state_dir"
  fi
  state_dir="$(cd "$state_dir" && pwd -P)"
fi
case "$1" in
  start) start "$state_dir" ;;
  stop) stop "$state_dir" ;;
  env) [[ -f "$state_dir/servers.env" ]] || die "no servers in $state_dir"; cat "$state_dir/servers.env" ;;
  status) status "$state_dir" ;;
  *) usage ;;
esac
