// TlsSession: the client side of one TLS connection, run over memory buffers only. It never
// touches a socket: the owner feeds it the bytes that arrived (Feed), lets it work (Advance), and
// sends what it produced (TakeOutput). So it fits under the non-blocking socket and its readiness
// notifications without a thread or a blocking call of its own.
//
// Thread: one session is used by one thread at a time (the socket's owning thread). The shared
// client contexts (one per CA file) are created once per process under a lock and are safe to
// share.
//
// Verification: the handshake never fails on the certificate itself. Every verification problem
// is recorded instead (TTlsPeer), so the owner can explain it, or accept a certificate the user
// trusts, before it sends anything of its own. The owner must look at Peer() when the handshake
// has ended and before it sends a byte.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace dovrik {

struct TTlsParams {
  std::string host;     // the name (or dotted address) the certificate must be for
  std::string ca_file;  // PEM file of trusted authorities; empty: the system's trust store
};

// What is wrong with the server's certificate, worst first.
enum class TTlsProblem {
  tpNone,       // verified for the host
  tpExpired,    // expired or not yet valid
  tpWrongHost,  // valid, but for another host name
  tpUntrusted,  // self-signed or from an authority the trust store doesn't know
  tpOther,      // any other verification failure (see VerifyText)
};

struct TTlsPeer {
  TTlsProblem problem = TTlsProblem::tpNone;
  std::string verify_text;  // OpenSSL's text for the first problem found, empty when none
  std::string subject;      // of the server's own certificate, "CN=…, O=…"
  std::string issuer;
  std::string fingerprint;  // SHA-256 of the certificate, upper-case hex pairs joined by ':'
  std::string not_after;    // "Dec 10 04:00:00 2027 GMT"
  std::string names;        // the names it is for (subject alternative names), comma-separated
  std::string protocol;     // "TLSv1.3"
};

enum class TTlsStep {
  kHandshaking,  // needs more bytes from the server
  kEstablished,  // handshake over; application data flows
  kFailed,       // the handshake failed or the session broke: see Failure()
};

class TlsSession {
 public:
  // Throws ESocketException when the CA file can't be loaded or OpenSSL can't make a session.
  explicit TlsSession(const TTlsParams& params);
  ~TlsSession();
  TlsSession(const TlsSession&) = delete;
  TlsSession& operator=(const TlsSession&) = delete;

  // Starts the handshake: the client's first message is ready in the output afterwards.
  TTlsStep Start();
  // Bytes received from the server.
  void Feed(const void* data, std::size_t size);
  // Continues the handshake or decrypts what was fed, appending the plain text to plain.
  TTlsStep Advance(std::string& plain);
  // Encrypts size bytes; the records are ready in the output afterwards. Only when established.
  bool Write(const void* data, std::size_t size);
  // Queues the closing alert (close_notify) in the output.
  void Shutdown();

  // The encrypted bytes waiting to be sent; Consume drops them once they are handed on.
  std::string_view Output() const;
  void ConsumeOutput();

  TTlsStep Step() const { return step_; }
  const std::string& Failure() const { return failure_; }
  const TTlsPeer& Peer() const { return peer_; }

 private:
  struct Impl;
  TTlsStep Fail(const std::string& why);
  void ReadPeer();

  std::unique_ptr<Impl> impl_;
  TTlsStep step_ = TTlsStep::kHandshaking;
  std::string failure_;
  TTlsPeer peer_;
};

// "AB:CD:…" of any spelling of a SHA-256 fingerprint (case, ':' or none); empty when it is not one.
std::string NormalFingerprint(std::string_view text);

}  // namespace dovrik
