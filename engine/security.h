// Encrypted connections: the security choice per server, the result codes of its failures, and
// the question about a certificate the trust store doesn't vouch for. Core: no Qt.
#pragma once

#include <functional>
#include <string>

namespace dovrik {

class TQuorrel;

// How a server is reached: in clear (the original wire), upgraded after the greeting (POP3 STLS,
// SMTP STARTTLS), or with TLS from the first byte (POP3S, SMTPS).
enum class SecurityMode : int { kNone = 0, kStartTls = 1, kTls = 2 };

// Result codes of encrypted sessions; each ends the session before the user name or the password
// is sent.
inline constexpr int kQrTlsNotOffered = -20;  // STLS / STARTTLS chosen, the server doesn't offer it
inline constexpr int kQrTlsFailed = -21;      // the handshake failed, stalled or was cut off
inline constexpr int kQrCertUntrusted = -22;  // certificate from no trusted authority, or unusable
inline constexpr int kQrCertExpired = -23;    // certificate expired or not yet valid
inline constexpr int kQrCertWrongHost = -24;  // certificate for another host name
inline constexpr int kQrAuthRefused = -25;    // SMTP login refused, or no password given

// The certificate a server presented, as the trust question shows it.
// The fields keep the names the trust question reads them by.
// NOLINTBEGIN(readability-identifier-naming)
struct tQrCertificate {
  bool Incoming = true;  // the incoming (POP3) server, else the outgoing (SMTP) one
  std::string Server;    // the host name or address as configured
  std::string Subject;
  std::string Issuer;
  std::string Fingerprint;  // SHA-256, "AB:CD:…"
  std::string NotAfter;
  std::string Reason;  // why it is not trusted, in OpenSSL's words
};
// NOLINTEND(readability-identifier-naming)

// trOnce lets this session go on; trAlways also adds the fingerprint to the server's trusted
// list (InTrusted / OutTrusted), which the owner stores with the settings.
enum tQrTrust : int { trNo = 0, trOnce = 1, trAlways = 2 };

// Runs on the main thread while the session waits, like OnGetPass; anAnswer is trNo on entry.
using tOnTrustCertificateEvent =
    std::function<void(TQuorrel* sender, const tQrCertificate& aCertificate, tQrTrust& anAnswer)>;

}  // namespace dovrik
