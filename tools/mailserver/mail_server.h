// A scriptable POP3 or SMTP server on 127.0.0.1 for tests, benchmarks and the demo. It serves a
// mailbox, misbehaves on request, and records every byte each connection received.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace dovrik::tools {

enum class MailProtocol { kPop3, kSmtp };

enum class MailTls { kNone, kImplicit, kStartTls };

// How a RETR reply is cut short.
enum class MailCut {
  kNone,
  kStall,    // stop sending, keep the connection open
  kClose,    // close the connection (orderly)
  kReset,    // reset the connection
  kEndless,  // never end: body lines keep coming until the client leaves
};

struct MailBehaviour {
  MailProtocol protocol = MailProtocol::kPop3;
  std::string user = "user";
  std::string pass = "secret";
  std::vector<std::string> messages;  // raw texts; RETR dot-stuffs them
  std::string greeting;               // whole greeting bytes; empty: a one-line default
  std::string greeting_late;          // bytes sent after the client's first line, before its answer
  bool silent = false;                // accept and record, never answer
  bool never_accept = false;          // keep the accept queue full: connects hang
  bool list_after_user = false;       // LIST is served right after USER
  std::string refuse;                 // command word always refused ("USER", "RCPT", ...)
  std::string refusal;                // its reply; empty: "-ERR refused" / "550 refused"
  std::string unanswered;             // POP3 command word met by silence (the connection stays)
  bool unanswered_closes = false;     // ... met by closing the connection instead
  int refuse_pass_count = 0;          // refuse this many PASS commands, even right ones
  int trickle_gap_ms = 0;             // replies go out byte by byte with this gap
  MailCut cut = MailCut::kNone;       // what happens to a RETR reply
  std::size_t cut_after = 0;          // bytes of the RETR reply sent before the cut
  std::string retr_status;            // RETR's status line in place of "+OK <size> octets"
  // Every reply goes out as two packets with this pause between: its first line, then the rest.
  // SMTP replies become two-line replies for it ("250-Dovrik" then the reply).
  int split_gap_ms = 0;

  // Encryption. With a certificate and key (PEM) the server speaks TLS: from the first byte
  // (kImplicit), or after STLS / STARTTLS (kStartTls).
  MailTls tls = MailTls::kNone;
  std::string cert_pem;
  std::string key_pem;
  bool tls_offered = true;  // kStartTls: STLS / STARTTLS accepted and (SMTP) announced
  bool tls_stall = false;   // where TLS would start, never answer the handshake
  bool tls_drop = false;    // after accepting STLS / STARTTLS, close the connection
  std::string tls_extra;    // bytes sent in clear right behind the go-ahead to STLS / STARTTLS
  // SMTP: the go-ahead to STARTTLS in place of "220 Ready to start TLS" CR LF (a multi-line
  // one, say); tls_extra still follows it.
  std::string starttls_go_ahead;
  // SMTP login: mechanisms announced in EHLO ("PLAIN LOGIN"), only once TLS is on (or always
  // when tls is kNone); with auth_required, MAIL is refused until a login succeeded.
  std::string auth;
  bool auth_required = false;
};

// Sample mailbox of the demo.
std::vector<std::string> SampleMessages();

class MailServer {
 public:
  // Binds 127.0.0.1:port (0: any free port) and starts serving.
  explicit MailServer(MailBehaviour behaviour, std::uint16_t port = 0);
  ~MailServer();
  MailServer(const MailServer&) = delete;
  MailServer& operator=(const MailServer&) = delete;

  std::uint16_t Port() const { return port_; }
  std::size_t Connections() const;
  // Bytes received on connection i (accept order), or empty: what the client sent, decrypted
  // where it was encrypted.
  std::string Received(std::size_t i = 0) const;
  // Of those, the bytes that came before TLS started (all of them when it never started).
  std::string ReceivedInClear(std::size_t i = 0) const;
  // Whether the TLS handshake of connection i completed.
  bool Encrypted(std::size_t i = 0) const;
  // Messages still in the mailbox (DELE takes effect at QUIT).
  std::size_t MailboxCount() const;
  // Message i's text and unique id (UIDL), or empty.
  std::string MessageText(std::size_t i) const;
  std::string MessageUidl(std::size_t i) const;
  // Changes the mailbox as another client or the server itself would, between sessions. Each
  // added message gets an id of its own; ids stay with their messages.
  void AddMessage(std::string text);
  void RemoveMessage(std::size_t i);

  // Bounded waits for tests; true when the condition holds.
  bool WaitConnections(std::size_t n, std::chrono::milliseconds bound) const;
  bool WaitClosed(std::size_t n, std::chrono::milliseconds bound) const;  // n connections ended
  // n RETR replies have been cut (the partial reply is out, the cut is done).
  bool WaitCuts(std::size_t n, std::chrono::milliseconds bound) const;

 private:
  struct Connection;
  void AcceptLoop();
  void Serve(Connection& c);
  void ServePop3(Connection& c);
  void ServeSmtp(Connection& c);
  bool SendReply(Connection& c, std::string_view bytes);
  bool SendBytes(Connection& c, std::string_view bytes);
  bool ReadLine(Connection& c, std::string& line);
  bool ReadMore(Connection& c);
  void Drain(Connection& c);
  bool Pause(int ms);
  bool StartTls(Connection& c);
  bool WaitFd(Connection& c, short events);
  bool ServeAuth(Connection& c, const std::string& line);

  MailBehaviour behaviour_;
  std::uint16_t port_ = 0;
  int listen_fd_ = -1;
  int stop_fd_ = -1;  // eventfd: readable once the server stops
  int filler_fd_ = -1;
  std::thread acceptor_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<std::unique_ptr<Connection>> connections_;
  struct Stored {
    std::shared_ptr<const std::string> text;
    std::string uidl;
  };
  std::vector<Stored> mailbox_;
  std::size_t next_uidl_ = 1;
  std::map<const std::string*, std::shared_ptr<const std::string>> retr_cache_;  // framed
  std::shared_ptr<void> tls_context_;  // SSL_CTX, when the server speaks TLS
  std::size_t closed_ = 0;
  std::size_t cuts_ = 0;
};

}  // namespace dovrik::tools
