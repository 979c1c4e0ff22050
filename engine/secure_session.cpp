// The encrypted side of a session: TLS from the first byte or after STLS / STARTTLS, the judgement
// of the server's certificate, and the SMTP login. Every failure ends the session before the user
// name or the password is sent. With no encryption chosen nothing here changes the wire.
#include <arpa/inet.h>

#include <algorithm>
#include <mutex>

#include "engine/check_thread.h"
#include "engine/quorrel.h"
#include "engine/smtp_reply.h"
#include "engine/text_lines.h"
#include "platform/clock.h"

namespace dovrik {
namespace {

constexpr const char* kNothingSent = ". The user name and password were not sent.";

std::string CertificateText(const TTlsPeer& aPeer) {
  return "subject " + aPeer.Subject + ", issued by " + aPeer.Issuer + ", SHA-256 fingerprint " +
         aPeer.Fingerprint;
}

}  // namespace

void tCheckThread::ConfigureSecurity() {
  WithEngine([&](TQuorrel& e) {
    FSecurity = FSend ? e.FOutSecurity : e.FInSecurity;
    FTrusted = FSend ? e.FOutTrusted : e.FInTrusted;
    FTlsParams.CaFile = e.FCaFile;
  });
  FTlsParams.Host = FAddr;
  if (FSecurity == SecurityMode::kTls) FSocket->SetTlsAtConnect(FTlsParams);
}

bool tCheckThread::SecureConnected(Word Error) {
  // A connection that failed is the dialogue's to report ("Server not found").
  if (FSecurity != SecurityMode::kTls || (Error != 0 && Error != kTlsFailedError)) return true;
  bool ok = false;
  if (Error == kTlsFailedError)
    SetError(kQrTlsFailed,
             "No encrypted connection to " + FAddr + ": " + FSocket->TlsFailure() + kNothingSent);
  else
    ok = CheckCertificate();
  if (!ok) FDone = true;
  return ok;
}

void tCheckThread::RecordConnectTimeout() {
  if (FSocket->State() == wsConnected && FSocket->TlsState() == tlsHandshaking)
    SetError(kQrTlsFailed, "No encrypted connection to " + FAddr +
                               ": the server did not complete the handshake within " +
                               std::to_string(TimeOut()) + " seconds" + kNothingSent);
  else
    SetError(kQrTimeout, kQrTimeoutText);
}

bool tCheckThread::Pop3StartTls() {
  if (FSecurity != SecurityMode::kStartTls) return true;
  if (UpgradeToTls("STLS", "+OK")) return true;
  // Polite and harmless: QUIT carries nothing of the user's.
  if (ErrorCode() == kQrTlsNotOffered && FState == wsConnected) FSocket->SendStr("QUIT\r\n");
  return false;
}

bool tCheckThread::UpgradeToTls(const std::string& aCommand, const std::string& aCode) {
  const bool agreed = FSend ? SmtpCommand(aCommand, aCode, kQrTlsNotOffered)
                            : SendCommand(aCommand, aCode, kQrTlsNotOffered);
  if (!agreed && FReply.compare(0, aCode.size(), aCode) == 0 && ErrorCode() == kQrTlsNotOffered) {
    SetError(kQrTlsFailed, "No encrypted connection to " + FAddr +
                               ": the server closed the connection after agreeing to encrypt" +
                               kNothingSent);
    return false;
  }
  if (!agreed) {
    const std::string reply(TrimBlanks(FReply));
    SetError(kQrTlsNotOffered, "The server " + FAddr + " does not offer encryption (" + aCommand +
                                   ")" + (reply.empty() ? std::string() : ": " + reply) +
                                   kNothingSent);
    return false;
  }
  // Bytes behind the go-ahead came in clear and could have been put there by anyone on the way;
  // a sound server waits for the handshake.
  if (FReply.find("\r\n") + 2 != FReply.size()) {
    SetError(kQrTlsFailed, "No encrypted connection to " + FAddr +
                               ": the server sent unencrypted data after agreeing to encrypt" +
                               kNothingSent);
    return false;
  }
  try {
    FSocket->StartTls(FTlsParams);
  } catch (const ESocketException& e) {
    SetError(kQrTlsFailed, "No encrypted connection to " + FAddr + ": " + e.Message());
    return false;
  }
  return WaitTls();
}

bool tCheckThread::WaitTls() {
  const double reference = platform::NowSeconds();
  bool late = false;
  while (FSocket->TlsState() == tlsHandshaking && FState == wsConnected && !Terminated()) {
    if (TimedOut(reference)) {
      late = true;
      break;
    }
    WaitAndPump();
  }
  const TTlsState state = FSocket->TlsState();
  if (state == tlsEstablished && FState == wsConnected && !Terminated()) return CheckCertificate();
  std::string why;
  if (state == tlsFailed)
    why = FSocket->TlsFailure();
  else if (late)
    why = "the server did not complete the handshake within " + std::to_string(TimeOut()) +
          " seconds";
  else if (Terminated())
    why = "the session was stopped";
  else
    why = "the server closed the connection during the handshake";
  SetError(kQrTlsFailed, "No encrypted connection to " + FAddr + ": " + why + kNothingSent);
  return false;
}

bool tCheckThread::CheckCertificate() {
  const TTlsPeer& peer = FSocket->TlsPeer();
  const std::string whose = "The certificate of " + FAddr;
  switch (peer.Problem) {
    case TTlsProblem::tpNone:
      return true;
    case TTlsProblem::tpExpired:
      SetError(kQrCertExpired, whose + " has expired or is not yet valid (valid until " +
                                   peer.NotAfter + "): " + CertificateText(peer) + kNothingSent);
      return false;
    case TTlsProblem::tpWrongHost:
      SetError(kQrCertWrongHost,
               whose + " is for " + (peer.Names.empty() ? peer.Subject : peer.Names) +
                   ", not for " + FAddr + ": " + CertificateText(peer) + kNothingSent);
      return false;
    case TTlsProblem::tpUntrusted: {
      const std::string mine = NormalFingerprint(peer.Fingerprint);
      const bool known =
          !mine.empty() && std::any_of(FTrusted.begin(), FTrusted.end(), [&](const std::string& t) {
            return NormalFingerprint(t) == mine;
          });
      if (known || AskTrust(peer) != trNo) return true;
      break;
    }
    case TTlsProblem::tpOther:
      break;
  }
  SetError(kQrCertUntrusted, whose + " is not trusted (" + peer.VerifyText +
                                 "): " + CertificateText(peer) + kNothingSent);
  return false;
}

tQrTrust tCheckThread::AskTrust(const TTlsPeer& aPeer) {
  tQrTrust answer = trNo;
  bool attached = false;
  WithEngine([&](TQuorrel&) { attached = true; });
  if (!attached) return answer;
  const tQrCertificate certificate{
      !FSend,         FAddr,           aPeer.Subject, aPeer.Issuer, aPeer.Fingerprint,
      aPeer.NotAfter, aPeer.VerifyText};
  Synchronize([&] {
    TQuorrel* engine = nullptr;
    {
      std::lock_guard<std::mutex> guard(FOwner->Lock);
      engine = FOwner->Engine;
    }
    if (!engine || !engine->OnTrustCertificate) return;
    engine->OnTrustCertificate(engine, certificate, answer);
    if (answer != trAlways) return;
    std::lock_guard<std::mutex> guard(FOwner->Lock);
    auto& list = FSend ? engine->FOutTrusted : engine->FInTrusted;
    const std::string mine = NormalFingerprint(aPeer.Fingerprint);
    if (std::none_of(list.begin(), list.end(),
                     [&](const std::string& t) { return NormalFingerprint(t) == mine; }))
      list.push_back(aPeer.Fingerprint);
  });
  return answer;
}

// ---------------------------------------------------------------- SMTP

std::string tCheckThread::LocalAddressLiteral() {
  sockaddr_in local{};
  int length = sizeof local;
  char text[INET_ADDRSTRLEN] = "127.0.0.1";
  if (FSocket->GetSockName(local, length) == 0)
    inet_ntop(AF_INET, &local.sin_addr, text, sizeof text);
  return std::string("[") + text + "]";
}

bool tCheckThread::SmtpHello() {
  if (FSecurity == SecurityMode::kNone)
    return SendCommand("HELO " + UserName(), "250", kQrHeloRefused);
  // EHLO names this machine by its address, as the standard allows; the user name (HELO's
  // argument in clear) would go out before the encryption.
  const std::string hello = "EHLO " + LocalAddressLiteral();
  if (FSecurity == SecurityMode::kStartTls) {
    if (!SmtpCommand(hello, "250", kQrHeloRefused)) return false;
    if (!SmtpOffers(FReply, "STARTTLS")) {
      SetError(kQrTlsNotOffered,
               "The server " + FAddr + " does not offer encryption (STARTTLS)" + kNothingSent);
      return false;
    }
    if (!UpgradeToTls("STARTTLS", "220")) return false;
  }
  return SmtpCommand(hello, "250", kQrHeloRefused) && SmtpLogin(FReply);
}

bool tCheckThread::WaitSmtpReply(const std::string& aCode) {
  const bool first = WaitReply(aCode);
  std::size_t lastLength = static_cast<std::size_t>(-1);
  double reference = 0;
  while (!SmtpReplyComplete(FReply) && FState == wsConnected && !Terminated() &&
         ErrorCode() == kQrOk) {
    if (FReply.size() != lastLength) {
      lastLength = FReply.size();
      reference = platform::NowSeconds();
    }
    if (TimedOut(reference)) {
      SetError(kQrTimeout, kQrTimeoutText);
      break;
    }
    WaitAndPump();
  }
  return first && SmtpReplyComplete(FReply) && FState == wsConnected && ErrorCode() == kQrOk;
}

bool tCheckThread::SmtpCommand(const std::string& aCommand, const std::string& aCode, int anError) {
  {
    std::string line;
    WipeOnExit wipe{line};  // it may carry the password
    line.reserve(aCommand.size() + 2);
    line.append(aCommand).append("\r\n");
    FSocket->SendStr(line);
  }
  const bool ok = WaitSmtpReply(aCode);
  if (!ok) SetError(anError, FReply);
  return ok;
}

bool tCheckThread::SmtpLogin(const std::string& aCapabilities) {
  const std::vector<std::string> offered = SmtpAuthMechanisms(aCapabilities);
  const bool plain = std::find(offered.begin(), offered.end(), "PLAIN") != offered.end();
  const bool login = std::find(offered.begin(), offered.end(), "LOGIN") != offered.end();
  // No login the server knows: send without one and let the server judge. Never a login in
  // clear.
  if ((!plain && !login) || FSocket->TlsState() != tlsEstablished) return true;
  RequestPassword();
  WipeOnExit wipePass{FPass};
  if (!FGotPass) {
    SetError(kQrAuthRefused, "No password given");
    return false;
  }
  const std::string user = UserName();
  if (plain) {
    std::string token;
    WipeOnExit wipeToken{token};
    token.reserve(user.size() + FPass.size() + 2);
    token.append(1, '\0').append(user).append(1, '\0').append(FPass);
    std::string command = "AUTH PLAIN " + Base64(token);
    WipeOnExit wipeCommand{command};
    return SmtpCommand(command, "235", kQrAuthRefused);
  }
  std::string secret = Base64(FPass);
  WipeOnExit wipeSecret{secret};
  return SmtpCommand("AUTH LOGIN", "334", kQrAuthRefused) &&
         SmtpCommand(Base64(user), "334", kQrAuthRefused) &&
         SmtpCommand(secret, "235", kQrAuthRefused);
}

}  // namespace dovrik
