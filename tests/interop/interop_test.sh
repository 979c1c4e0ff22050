#!/usr/bin/env bash
# One interoperability case against the private Dovecot and Postfix of tools/interop/mailservers.sh:
#   interop_test.sh CASE
# Environment (set by ctest): DOVRIK_PROBE, DOVRIK_PARSE, DOVRIK_MIME, DOVRIK_STATE, DOVRIK_SCRATCH.
# Each case empties the Maildir first and fills it with the messages it needs, so the cases don't
# depend on each other's order.
set -euo pipefail

: "${DOVRIK_PROBE:?}" "${DOVRIK_PARSE:?}" "${DOVRIK_STATE:?}" "${DOVRIK_SCRATCH:?}"
if [[ $(id -u) -ne 0 ]]; then
  echo "interop tests need root (they fill the servers' Maildir); skipped" >&2
  exit 77
fi
# shellcheck disable=SC1091
source "$DOVRIK_STATE/servers.env"

scratch="$DOVRIK_SCRATCH/${1:-none}"
rm -rf "$scratch"
mkdir -p "$scratch"

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

expect_eq() { # what actual expected
  [[ "$2" == "$3" ]] || fail "$1: got [$2], expected [$3]"
}

# The probe against the POP3 server; standard input gives the password when it is asked for.
pop3() { "$DOVRIK_PROBE" --server 127.0.0.1 --port "$DOVRIK_POP3_PORT" --user "$DOVRIK_MAIL_USER" --timeout 20 "$@"; }

smtp() { "$DOVRIK_PROBE" --server 127.0.0.1 --port "$DOVRIK_SMTP_PORT" --user "$DOVRIK_MAIL_USER" --timeout 20 "$@"; }

# Result line field: field NAME LINE
field() { sed -n "s/.*\\b$1=\\([^ ]*\\).*/\\1/p" <<<"$2"; }

empty_maildir() {
  find "$DOVRIK_MAILDIR/new" "$DOVRIK_MAILDIR/cur" "$DOVRIK_MAILDIR/tmp" -type f -delete
}

# Maildir names are unique for ever (the server caches sizes by name), so every run adds its own tag.
run_tag="$$-$EPOCHSECONDS"

# Puts a message file (lines ended by LF, as delivery agents store them) into the Maildir under a
# name that starts with the given base name.
put_message() { # base source
  local name="$1.$run_tag.dovrik"
  cp "$2" "$DOVRIK_MAILDIR/tmp/$name"
  chown "$DOVRIK_MAIL_ACCOUNT:$DOVRIK_MAIL_ACCOUNT" "$DOVRIK_MAILDIR/tmp/$name"
  chmod 0600 "$DOVRIK_MAILDIR/tmp/$name"
  mv "$DOVRIK_MAILDIR/tmp/$name" "$DOVRIK_MAILDIR/new/$name"
}

# Octets a POP3 server reports for a stored file: every line end counts as CR LF.
pop3_size() { perl -0777 -ne 'my $n = length($_); my $lf = () = /(?<!\r)\n/g; print $n + $lf' "$1"; }

# What the server sends for RETR after its status line: CR LF line ends, dot-stuffing, "." line.
expected_retr_body() { # source output
  perl -pe 's/\r?\n\z/\r\n/; s/^\./../' "$1" >"$2"
  printf '.\r\n' >>"$2"
}

# The body ParseMessage gives for a stored file: lines after the first blank line, ended by CR LF.
expected_parsed_text() {
  perl -ne 'if ($body) { s/\r?\n\z//; s/\\/\\\\/g; print "$_\\r\\n"; } elsif (/^\r?$/) { $body = 1 }' "$1"
}

# Waits until a delivered file shows up in Maildir/new, at most 30 s.
wait_for_delivery() {
  local deadline=$((SECONDS + 30))
  until [[ -n "$(find "$DOVRIK_MAILDIR/new" -type f -print -quit)" ]]; do
    ((SECONDS < deadline)) || fail "no delivery into $DOVRIK_MAILDIR/new within 30 s"
    sleep 0.05
  done
}

maildir_has() { [[ -n "$(find "$DOVRIK_MAILDIR/new" "$DOVRIK_MAILDIR/cur" -name "$1.$run_tag.*" -print -quit)" ]]; }

make_message() { # file subject [body lines...]
  local file=$1 subject=$2
  shift 2
  {
    printf 'Return-Path: <sender@example.test>\n'
    printf 'From: Sender One <sender@example.test>\n'
    printf 'To: %s\n' "$DOVRIK_MAIL_ADDRESS"
    printf 'Subject: %s\n' "$subject"
    printf 'Date: Mon, 7 Dec 2026 10:11:12 +0000\n'
    printf 'Message-ID: <%s@example.test>\n' "${subject// /-}"
    printf '\n'
    printf '%s\n' "$@"
  } >"$file"
}

case_check_asks_password_once() {
  empty_maildir
  local total=0 i
  for i in 1 2 3; do
    make_message "$scratch/m$i" "message $i" "Body of message $i." "" ".dot" "end"
    put_message "17000000$i.check$i" "$scratch/m$i"
    total=$((total + $(pop3_size "$scratch/m$i")))
  done
  # The password is offered once; a second request would read end of input and fail the check.
  local out logins_before logins_after log="$DOVRIK_STATE/dovecot/dovecot.log"
  logins_before="$(grep -c "Login: user=<$DOVRIK_MAIL_USER>" "$log" || true)"
  out="$(pop3 check <<<"$DOVRIK_MAIL_PASSWORD")" || fail "check failed: $out"
  expect_eq "check result" "$out" "code=0 count=3 size=$total"
  # Exactly one login, and no refused password on the way.
  logins_after="$(grep -c "Login: user=<$DOVRIK_MAIL_USER>" "$log" || true)"
  expect_eq "logins" "$logins_after" "$((logins_before + 1))"
}

case_get_is_byte_exact_and_parses() {
  empty_maildir
  make_message "$scratch/m" "Dots and more" \
    "First line." "." ".leading dot" "..two dots" "x.y" "" "From: not a header" "last line"
  put_message 1700000100.get "$scratch/m"
  local out
  out="$(pop3 --out "$scratch/retr" get 1 <<<"$DOVRIK_MAIL_PASSWORD")" || fail "get failed: $out"
  expect_eq "get result" "$(field code "$out")" 0
  local status
  status="$(head -c 200 "$scratch/retr" | head -n 1)"
  [[ "$status" == +OK*$'\r' ]] || fail "status line [$status]"
  expected_retr_body "$scratch/m" "$scratch/expected"
  tail -c +$((${#status} + 2)) "$scratch/retr" >"$scratch/retr-body"
  cmp "$scratch/retr-body" "$scratch/expected" || fail "MessageText differs from the stored message"

  local parsed
  parsed="$("$DOVRIK_PARSE" "$scratch/retr")"
  expect_eq From "$(sed -n 's/^From=//p' <<<"$parsed")" "Sender One <sender@example.test>"
  expect_eq To "$(sed -n 's/^To=//p' <<<"$parsed")" "$DOVRIK_MAIL_ADDRESS"
  expect_eq Subject "$(sed -n 's/^Subject=//p' <<<"$parsed")" "Dots and more"
  expect_eq Date "$(sed -n 's/^Date=//p' <<<"$parsed")" "Mon, 7 Dec 2026 10:11:12 +0000"
  expect_eq Text "$(sed -n 's/^Text=//p' <<<"$parsed")" "$(expected_parsed_text "$scratch/m")"
}

case_delete_removes_from_maildir() {
  empty_maildir
  make_message "$scratch/a" "keep me" "kept"
  make_message "$scratch/b" "delete me" "deleted"
  put_message 1700000201.keep "$scratch/a"
  put_message 1700000202.gone "$scratch/b"
  # The server numbers the messages itself; find the one to delete by its subject.
  local n victim=""
  for n in 1 2; do
    pop3 --out "$scratch/retr$n" get "$n" <<<"$DOVRIK_MAIL_PASSWORD" >/dev/null || fail "get $n failed"
    grep -q '^Subject: delete me' "$scratch/retr$n" && victim=$n
  done
  [[ -n "$victim" ]] || fail "message to delete not found"
  local out
  out="$(pop3 delete "$victim" <<<"$DOVRIK_MAIL_PASSWORD")" || fail "delete failed: $out"
  expect_eq "delete result" "$(field code "$out")" 0
  out="$(pop3 check <<<"$DOVRIK_MAIL_PASSWORD")" || fail "check failed: $out"
  expect_eq "check after delete" "$out" "code=0 count=1 size=$(pop3_size "$scratch/a")"
  maildir_has 1700000202.gone && fail "deleted message still in the Maildir"
  maildir_has 1700000201.keep || fail "the other message is gone too"
}

# A delete guarded by the last check and the message's id: refused once another client deleted a
# message before it (the numbers shifted), carried out while the mailbox is as the user saw it.
case_guarded_delete_follows_the_mailbox() {
  empty_maildir
  make_message "$scratch/a" "first" "one"
  make_message "$scratch/b" "second" "two"
  make_message "$scratch/c" "third" "three"
  put_message 1700000301.a "$scratch/a"
  put_message 1700000302.b "$scratch/b"
  put_message 1700000303.c "$scratch/c"
  local out count size n victim="" uidl=""
  out="$(pop3 check <<<"$DOVRIK_MAIL_PASSWORD")" || fail "check failed: $out"
  count="$(field count "$out")"
  size="$(field size "$out")"
  expect_eq "count" "$count" 3
  for n in 1 2 3; do
    out="$(pop3 --out "$scratch/retr$n" get "$n" <<<"$DOVRIK_MAIL_PASSWORD")" || fail "get $n failed"
    if grep -q '^Subject: second' "$scratch/retr$n"; then
      victim=$n
      uidl="$(field uidl "$out")"
    fi
  done
  [[ -n "$victim" && -n "$uidl" ]] || fail "message to delete or its id not found: $out"
  # Another client deletes a message: the mailbox is no longer the one the user saw.
  local other
  other="$(find "$DOVRIK_MAILDIR/new" "$DOVRIK_MAILDIR/cur" -name "1700000301.a.$run_tag.*" -print -quit)"
  rm -f "$other"
  out="$(pop3 --guard "$count:$size:$uidl" delete "$victim" <<<"$DOVRIK_MAIL_PASSWORD")" &&
    fail "delete went ahead: $out"
  expect_eq "changed mailbox" "$(field code "$out")" -14
  maildir_has 1700000302.b || fail "the message was deleted all the same"
  maildir_has 1700000303.c || fail "another message was deleted"
  # After a new check the same delete goes ahead.
  out="$(pop3 check <<<"$DOVRIK_MAIL_PASSWORD")" || fail "check failed: $out"
  count="$(field count "$out")"
  size="$(field size "$out")"
  for n in 1 2; do
    out="$(pop3 --out "$scratch/retr$n" get "$n" <<<"$DOVRIK_MAIL_PASSWORD")" || fail "get $n failed"
    grep -q '^Subject: second' "$scratch/retr$n" && victim=$n
  done
  out="$(pop3 --guard "$count:$size:$uidl" delete "$victim" <<<"$DOVRIK_MAIL_PASSWORD")" ||
    fail "delete failed: $out"
  maildir_has 1700000302.b && fail "the message is still there"
  maildir_has 1700000303.c || fail "another message was deleted"
}

case_send_then_check_and_get() {
  empty_maildir
  local subject="Sent through the real SMTP server $$"
  printf 'From: %s\r\nTo: %s\r\nSubject: %s\r\nDate: Tue, 8 Dec 2026 09:00:00 +0000\r\nMIME-Version: 1.0\r\nContent-Type: text/plain\r\n\r\nHello.\r\n.\r\n.hidden dot\r\nbye\r\n' \
    "sender@example.test" "$DOVRIK_MAIL_ADDRESS" "$subject" >"$scratch/send"
  local out
  out="$(smtp send sender@example.test "$DOVRIK_MAIL_ADDRESS" "$scratch/send" </dev/null)" ||
    fail "send failed: $out"
  expect_eq "send result" "$(field code "$out")" 0
  wait_for_delivery
  out="$(pop3 check <<<"$DOVRIK_MAIL_PASSWORD")" || fail "check failed: $out"
  expect_eq "check count" "$(field count "$out")" 1
  out="$(pop3 --out "$scratch/retr" get 1 <<<"$DOVRIK_MAIL_PASSWORD")" || fail "get failed: $out"
  # The stored message keeps the single-dot line; the server stuffs it again for RETR.
  grep -q $'^\\.\\.\r$' "$scratch/retr" || fail "the '.' line is not dot-stuffed in MessageText"
  local parsed
  parsed="$("$DOVRIK_PARSE" "$scratch/retr")"
  expect_eq From "$(sed -n 's/^From=//p' <<<"$parsed")" "sender@example.test"
  expect_eq To "$(sed -n 's/^To=//p' <<<"$parsed")" "$DOVRIK_MAIL_ADDRESS"
  expect_eq Subject "$(sed -n 's/^Subject=//p' <<<"$parsed")" "$subject"
  expect_eq Date "$(sed -n 's/^Date=//p' <<<"$parsed")" "Tue, 8 Dec 2026 09:00:00 +0000"
  # The sender frames the data with one empty line after the message, so the body gains one.
  expect_eq Text "$(sed -n 's/^Text=//p' <<<"$parsed")" \
    'Hello.\r\n.\r\n.hidden dot\r\nbye\r\n\r\n'
}

case_wrong_password_is_refused() {
  empty_maildir
  local out rc=0
  out="$(pop3 check <<<"not-the-password")" || rc=$?
  ((rc != 0)) || fail "probe succeeded with a wrong password"
  expect_eq "code" "$(field code "$out")" -2
  [[ "$out" == *' text=-ERR '*'Authentication failed.\r\n' ]] || fail "text is not the server's reply: $out"
  # The server is not left slowed down: the right password works at once afterwards.
  out="$(pop3 check <<<"$DOVRIK_MAIL_PASSWORD")" || fail "check after a refusal failed: $out"
  expect_eq "check after refusal" "$out" "code=0 count=0 size=0"
}

case_retry_after_wrong_password() {
  # A mistyped password, then the right one: after a refused PASS a real server has forgotten the
  # user name ("-ERR No username given."), so the retry only works if USER is sent again first.
  empty_maildir
  local out
  out="$(pop3 check <<<$'not-the-password\n'"$DOVRIK_MAIL_PASSWORD")" || fail "retry failed: $out"
  expect_eq "check after a retry" "$out" "code=0 count=0 size=0"
}

case_stopped_server_not_found() {
  # A port nothing listens on: the kernel just handed it out and we closed it again.
  local port out
  port="$(perl -MIO::Socket::INET -e 'print IO::Socket::INET->new(LocalAddr => "127.0.0.1", LocalPort => 0, Listen => 1)->sockport')"
  out="$("$DOVRIK_PROBE" --server 127.0.0.1 --port "$port" --user "$DOVRIK_MAIL_USER" --timeout 20 check </dev/null)" || true
  expect_eq "check" "$out" "code=-10 count=0 size=0 text=Server not found"
  printf 'Subject: x\r\n\r\nx\r\n' >"$scratch/send"
  out="$("$DOVRIK_PROBE" --server 127.0.0.1 --port "$port" --user "$DOVRIK_MAIL_USER" --timeout 20 \
    send a@example.test b@example.test "$scratch/send" </dev/null)" || true
  expect_eq "send" "$out" "code=-10 count=0 size=0 text=Server not found"
}

case_get_20mb_whole() {
  empty_maildir
  make_message "$scratch/m" "twenty megabytes" "start"
  # 20 MiB of 78-character lines, some of them starting with a dot.
  perl -e 'for my $i (1 .. 270000) { print(($i % 1000 == 0 ? "." : "L") . sprintf("%09d", $i) . ("x" x 67) . "\n") }' \
    >>"$scratch/m"
  put_message 1700000300.big "$scratch/m"
  local out
  out="$(pop3 --out "$scratch/retr" get 1 <<<"$DOVRIK_MAIL_PASSWORD")" || fail "get failed: $out"
  expect_eq "get result" "$(field code "$out")" 0
  local status
  status="$(head -n 1 "$scratch/retr")"
  expected_retr_body "$scratch/m" "$scratch/expected"
  tail -c +$((${#status} + 2)) "$scratch/retr" >"$scratch/retr-body"
  cmp "$scratch/retr-body" "$scratch/expected" || fail "the 20 MB message is not retrieved whole"
  rm -f "$scratch/retr" "$scratch/retr-body" "$scratch/expected" "$scratch/m"
}

# --- encrypted connections ---------------------------------------------------------------------

# The probe in one security mode: secure pop3|smtp MODE [probe args...]
secure() {
  local kind=$1 mode=$2 port flag=--in-security
  shift 2
  [[ $kind == smtp ]] && flag=--out-security
  case "$kind/$mode" in
    pop3/tls) port=$DOVRIK_POP3S_PORT ;;
    pop3/starttls) port=$DOVRIK_POP3_STLS_PORT ;;
    smtp/tls) port=$DOVRIK_SMTPS_PORT ;;
    smtp/starttls) port=$DOVRIK_SUBMISSION_PORT ;;
  esac
  "$DOVRIK_PROBE" --server 127.0.0.1 --port "$port" --user "$DOVRIK_MAIL_USER" --timeout 20 \
    "$flag" "$mode" "$@"
}
sec_in() { local mode=$1; shift; secure pop3 "$mode" --ca-file "$DOVRIK_TLS_CA" "$@"; }
sec_out() { local mode=$1; shift; secure smtp "$mode" --ca-file "$DOVRIK_TLS_CA" "$@"; }

case_tls_check_get_delete() {
  local mode
  for mode in tls starttls; do
    empty_maildir
    make_message "$scratch/a" "keep $mode" "kept" "." ".dot"
    make_message "$scratch/b" "delete $mode" "deleted"
    put_message "1700000401.keep$mode" "$scratch/a"
    put_message "1700000402.gone$mode" "$scratch/b"
    local out total=$(($(pop3_size "$scratch/a") + $(pop3_size "$scratch/b")))
    out="$(sec_in "$mode" check <<<"$DOVRIK_MAIL_PASSWORD")" || fail "$mode check: $out"
    expect_eq "$mode check" "$out" "code=0 count=2 size=$total"
    local n victim="" keep=""
    for n in 1 2; do
      out="$(sec_in "$mode" --out "$scratch/retr$n" get "$n" <<<"$DOVRIK_MAIL_PASSWORD")" ||
        fail "$mode get $n: $out"
      if grep -q '^Subject: delete' "$scratch/retr$n"; then victim=$n; else keep=$n; fi
    done
    [[ -n "$victim" && -n "$keep" ]] || fail "$mode: messages not told apart"
    local status
    status="$(head -n 1 "$scratch/retr$keep")"
    expected_retr_body "$scratch/a" "$scratch/expected"
    tail -c +$((${#status} + 2)) "$scratch/retr$keep" >"$scratch/retr-body"
    cmp "$scratch/retr-body" "$scratch/expected" || fail "$mode: retrieved text differs"
    out="$(sec_in "$mode" delete "$victim" <<<"$DOVRIK_MAIL_PASSWORD")" || fail "$mode delete: $out"
    out="$(sec_in "$mode" check <<<"$DOVRIK_MAIL_PASSWORD")" || fail "$mode check: $out"
    expect_eq "$mode check after delete" "$out" "code=0 count=1 size=$(pop3_size "$scratch/a")"
  done
}

case_tls_send_with_login() {
  local mode out
  for mode in tls starttls; do
    empty_maildir
    printf 'From: sender@example.test\r\nTo: %s\r\nSubject: sent over %s\r\n\r\nHello.\r\n' \
      "$DOVRIK_MAIL_ADDRESS" "$mode" >"$scratch/send"
    out="$(sec_out "$mode" send sender@example.test "$DOVRIK_MAIL_ADDRESS" "$scratch/send" \
      <<<"$DOVRIK_MAIL_PASSWORD")" || fail "$mode send: $out"
    expect_eq "$mode send" "$out" "code=0 count=0 size=0"
    wait_for_delivery
    out="$(sec_in tls --out "$scratch/retr" get 1 <<<"$DOVRIK_MAIL_PASSWORD")" || fail "get: $out"
    grep -q "^Subject: sent over $mode" "$scratch/retr" || fail "$mode: the sent message is not there"
    # The submission ports take mail only after a login: a wrong password is refused.
    out="$(sec_out "$mode" send sender@example.test "$DOVRIK_MAIL_ADDRESS" "$scratch/send" \
      <<<"wrong")" && fail "$mode: a wrong password was accepted"
    expect_eq "$mode wrong password" "$(field code "$out")" -25
  done
}

case_tls_wrong_ca_sends_nothing() {
  # An authority the servers' certificate doesn't come from.
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 1 \
    -subj "/CN=Some other authority" -keyout "$scratch/other.key" -out "$scratch/other.pem" 2>/dev/null
  local dlog="$DOVRIK_STATE/dovecot/dovecot-tls.log" plog="$DOVRIK_STATE/postfix/maillog"
  local d0 p0 mode out
  d0="$(wc -l <"$dlog")"
  p0="$(wc -l <"$plog")"
  for mode in tls starttls; do
    out="$(secure pop3 "$mode" --ca-file "$scratch/other.pem" check <<<"$DOVRIK_MAIL_PASSWORD")" || true
    [[ "$out" == "code=-22 count=0 size=0 text=The certificate of 127.0.0.1 is not trusted ("* ]] ||
      fail "pop3 $mode: $out"
    out="$(secure smtp "$mode" --ca-file "$scratch/other.pem" \
      send a@example.test "$DOVRIK_MAIL_ADDRESS" /dev/null <<<"$DOVRIK_MAIL_PASSWORD")" || true
    [[ "$out" == "code=-22 count=0 size=0 text=The certificate of 127.0.0.1 is not trusted ("* ]] ||
      fail "smtp $mode: $out"
  done
  # Neither server saw a user name or a login attempt from these sessions.
  local dnew pnew
  dnew="$(tail -n +$((d0 + 1)) "$dlog")"
  pnew="$(tail -n +$((p0 + 1)) "$plog")"
  grep -q "user=<$DOVRIK_MAIL_USER>" <<<"$dnew" && fail "dovecot saw the user name: $dnew"
  grep -Eqi 'sasl|auth' <<<"$pnew" && fail "postfix saw a login: $pnew"
  return 0
}

case_tls_not_offered() {
  # The plain servers offer no encryption: choosing STARTTLS there ends before anything is sent.
  local out
  out="$("$DOVRIK_PROBE" --server 127.0.0.1 --port "$DOVRIK_POP3_PORT" --user "$DOVRIK_MAIL_USER" \
    --in-security starttls check <<<"$DOVRIK_MAIL_PASSWORD")" || true
  expect_eq "pop3 code" "$(field code "$out")" -20
  out="$("$DOVRIK_PROBE" --server 127.0.0.1 --port "$DOVRIK_SMTP_PORT" --user "$DOVRIK_MAIL_USER" \
    --out-security starttls send a@example.test "$DOVRIK_MAIL_ADDRESS" /dev/null </dev/null)" || true
  expect_eq "smtp" "$out" \
    "code=-20 count=0 size=0 text=The server 127.0.0.1 does not offer encryption (STARTTLS). The user name and password were not sent."
}

# A text on one line as the tools print it: backslash, CR and LF escaped.
escaped() { printf '%s' "$1" | perl -pe 's/\\/\\\\/g; s/\r/\\r/g; s/\n/\\n/g'; }

case_mime_reply_round_trip() {
  # UTF-8 written as bytes, so that the shell's locale does not matter.
  empty_maildir
  local subject=$'Re: Caf\xc3\xa9 cr\xc3\xa8me \xe2\x80\x94 \xc3\xa0 bient\xc3\xb4t, J\xc3\xbcrgen'
  local body=$'=>Gr\xc3\xbc\xc3\x9fe aus K\xc3\xb6ln,\r\n=>\xc3\xa7a va ?\r\n\r\nTr\xc3\xa8s bien, merci \xe2\x98\xba\r\n'
  # The text as the compose window builds it, then as it goes out.
  printf 'From: Jos\xc3\xa9 Garc\xc3\xada <sender@example.test>\r\nTo: Zo\xc3\xab <%s>\r\nSubject: %s\r\nDate: Thu, 10 Dec 2026 05:00:00\r\nMIME-Version: 1.0\r\nContent-Type: text/plain\r\n\r\n%s' \
    "$DOVRIK_MAIL_ADDRESS" "$subject" "$body" >"$scratch/composed"
  "$DOVRIK_MIME" encode "$scratch/composed" >"$scratch/send"
  LC_ALL=C grep -q $'[\x80-\xff]' "$scratch/send" && fail "the encoded text is not 7-bit"
  grep -q '^Content-Transfer-Encoding: quoted-printable' "$scratch/send" || fail "no transfer encoding"
  local out
  out="$(smtp send sender@example.test "$DOVRIK_MAIL_ADDRESS" "$scratch/send" </dev/null)" ||
    fail "send failed: $out"
  expect_eq "send result" "$(field code "$out")" 0
  wait_for_delivery
  out="$(pop3 --out "$scratch/retr" get 1 <<<"$DOVRIK_MAIL_PASSWORD")" || fail "get failed: $out"
  expect_eq "get result" "$(field code "$out")" 0
  local shown
  shown="$("$DOVRIK_MIME" decode --pop3 "$scratch/retr")"
  expect_eq From "$(sed -n 's/^From=//p' <<<"$shown")" $'Jos\xc3\xa9 Garc\xc3\xada <sender@example.test>'
  expect_eq To "$(sed -n 's/^To=//p' <<<"$shown")" $'Zo\xc3\xab <'"$DOVRIK_MAIL_ADDRESS>"
  expect_eq Subject "$(sed -n 's/^Subject=//p' <<<"$shown")" "$subject"
  # The sender frames the data with one empty line after the message, so the body gains one.
  expect_eq Text "$(sed -n 's/^Text=//p' <<<"$shown")" "$(escaped "$body")\\r\\n"
}

name="${1:?usage: interop_test.sh CASE}"
declare -F "case_$name" >/dev/null || fail "no case $name"
"case_$name"
echo "PASS: $name"
