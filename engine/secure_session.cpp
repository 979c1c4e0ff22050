// The encrypted side of a session: TLS from the first byte or after STLS / STARTTLS, and the
// judgement of the server's certificate. Every failure ends the session before the user
// name or the password is sent. With no encryption chosen nothing here changes the wire.
#include <arpa/inet.h>

#include <algorithm>

#include "engine/check_thread.h"
#include "engine/session_link.h"
#include "engine/text_lines.h"
#include "platform/clock.h"

namespace dovrik {
namespace {

std::string CertificateText(const TTlsPeer& aPeer) {
  return "subject " + aPeer.subject + ", issued by " + aPeer.issuer + ", SHA-256 fingerprint " +
         aPeer.fingerprint;
}

}  // namespace

void tCheckThread::ConfigureSecurity() {
  FTlsParams.ca_file = FRequest.ca_file;
  FTlsParams.host = FRequest.server;
  if (FRequest.security == SecurityMode::kTls) FSocket->SetTlsAtConnect(FTlsParams);
}

bool tCheckThread::SecureConnected(Word error) {
  // A connection that failed is the dialogue's to report ("Server not found").
  if (FRequest.security != SecurityMode::kTls || (error != 0 && error != kTlsFailedError))
    return true;
  bool ok = false;
  if (error == kTlsFailedError)
    SetError(kQrTlsFailed, "No encrypted connection to " + FRequest.server + ": " +
                               FSocket->TlsFailure() + kNothingSentText);
  else
    ok = CheckCertificate();
  if (!ok) FDone = true;
  // Held bytes go out only once the certificate is judged good; a refusal closes and drops them.
  if (ok && error == 0) FSocket->AcceptTlsPeer();
  return ok;
}

void tCheckThread::RecordConnectTimeout() {
  if (FSocket->State() == wsConnected && FSocket->TlsState() == tlsHandshaking)
    SetError(kQrTlsFailed, "No encrypted connection to " + FRequest.server +
                               ": the server did not complete the handshake within " +
                               std::to_string(TimeOut()) + " seconds" + kNothingSentText);
  else
    SetError(kQrTimeout, kQrTimeoutText);
}

bool tCheckThread::UpgradeToTls(const std::string& aCommand, const std::string& aCode) {
  const bool agreed = SendCommand(aCommand, aCode, kQrTlsNotOffered);
  if (!agreed && FReply.compare(0, aCode.size(), aCode) == 0 && ErrorCode() == kQrTlsNotOffered) {
    SetError(kQrTlsFailed, "No encrypted connection to " + FRequest.server +
                               ": the server closed the connection after agreeing to encrypt" +
                               kNothingSentText);
    return false;
  }
  if (!agreed) {
    const std::string reply(TrimBlanks(FReply));
    SetError(kQrTlsNotOffered, "The server " + FRequest.server + " does not offer encryption (" +
                                   aCommand + ")" + (reply.empty() ? std::string() : ": " + reply) +
                                   kNothingSentText);
    return false;
  }
  // Bytes behind the go-ahead came in clear and could have been put there by anyone on the way;
  // a sound server waits for the handshake. The go-ahead itself may run over several lines: it
  // ends with the line that completed the reply.
  if (FReply.find("\r\n", FLineStart) + 2 != FReply.size()) {
    SetError(kQrTlsFailed, "No encrypted connection to " + FRequest.server +
                               ": the server sent unencrypted data after agreeing to encrypt" +
                               kNothingSentText);
    return false;
  }
  try {
    FSocket->StartTls(FTlsParams);
  } catch (const ESocketException& e) {
    SetError(kQrTlsFailed, "No encrypted connection to " + FRequest.server + ": " + e.Message());
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
  if (state == tlsEstablished && FState == wsConnected && !Terminated()) {
    if (!CheckCertificate()) return false;
    FSocket->AcceptTlsPeer();
    return true;
  }
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
  SetError(kQrTlsFailed,
           "No encrypted connection to " + FRequest.server + ": " + why + kNothingSentText);
  return false;
}

bool tCheckThread::CheckCertificate() {
  const TTlsPeer& peer = FSocket->TlsPeer();
  const std::string whose = "The certificate of " + FRequest.server;
  switch (peer.problem) {
    case TTlsProblem::tpNone:
      return true;
    case TTlsProblem::tpExpired:
      SetError(kQrCertExpired, whose + " has expired or is not yet valid (valid until " +
                                   peer.not_after + "): " + CertificateText(peer) +
                                   kNothingSentText);
      return false;
    case TTlsProblem::tpWrongHost:
      SetError(kQrCertWrongHost, whose + " is for " +
                                     (peer.names.empty() ? peer.subject : peer.names) +
                                     ", not for " + FRequest.server + ": " + CertificateText(peer) +
                                     kNothingSentText);
      return false;
    case TTlsProblem::tpUntrusted: {
      const std::string mine = NormalFingerprint(peer.fingerprint);
      const auto& trusted = FRequest.trusted;
      const bool known =
          !mine.empty() && std::any_of(trusted.begin(), trusted.end(), [&](const std::string& t) {
            return NormalFingerprint(t) == mine;
          });
      if (known || AskTrust(peer) != trNo) return true;
      break;
    }
    case TTlsProblem::tpOther:
      break;
  }
  SetError(kQrCertUntrusted, whose + " is not trusted (" + peer.verify_text +
                                 "): " + CertificateText(peer) + kNothingSentText);
  return false;
}

tQrTrust tCheckThread::AskTrust(const TTlsPeer& aPeer) {
  const tQrCertificate certificate{Protocol(FRequest.protocol).incoming,
                                   FRequest.server,
                                   aPeer.subject,
                                   aPeer.issuer,
                                   aPeer.fingerprint,
                                   aPeer.not_after,
                                   aPeer.verify_text};
  return FOwner->AskTrust(certificate);
}

bool tCheckThread::TlsEstablished() const {
  return FSocket->TlsState() == tlsEstablished;
}

std::string tCheckThread::LocalAddressLiteral() {
  sockaddr_in local{};
  int length = sizeof local;
  char text[INET_ADDRSTRLEN] = "127.0.0.1";
  if (FSocket->GetSockName(local, length) == 0)
    inet_ntop(AF_INET, &local.sin_addr, text, sizeof text);
  return std::string("[") + text + "]";
}

}  // namespace dovrik
