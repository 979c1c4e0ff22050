#include "tools/mailserver/mail_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <stdexcept>

namespace dovrik::tools {

struct MailServer::Connection {
  int fd = -1;
  SSL* ssl = nullptr;  // once TLS is on (serving thread only)
  std::thread thread;
  std::string input;                           // received, not yet consumed (serving thread only)
  std::string received;                        // everything received (under mutex_)
  std::size_t clear_size = std::string::npos;  // received before TLS started (under mutex_)
  bool encrypted = false;                      // the handshake completed (under mutex_)
  bool authenticated = false;                  // SMTP login done (serving thread only)
  ~Connection() {
    if (ssl != nullptr) SSL_free(ssl);
  }
};

namespace {

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

// Dot-stuffs a message and frames it as the body of a multi-line reply.
std::string StuffedBody(const std::string& message) {
  std::string out;
  out.reserve(message.size() + message.size() / 64 + 8);
  std::size_t start = 0;
  while (start < message.size()) {
    std::size_t end = message.find('\n', start);
    const std::size_t next = end == std::string::npos ? message.size() : end + 1;
    std::string_view line(message.data() + start, next - start);
    if (!line.empty() && line.front() == '.') out += '.';
    out.append(line);
    start = next;
  }
  if (!out.empty() && out.back() != '\n') out += "\r\n";
  out += ".\r\n";
  return out;
}

std::string Base64Decode(std::string_view in) {
  std::string out((in.size() + 3) / 4 * 3 + 1, '\0');
  if (in.size() % 4 != 0) return {};
  const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                reinterpret_cast<const unsigned char*>(in.data()),
                                static_cast<int>(in.size()));
  if (n < 0) return {};
  std::size_t len = static_cast<std::size_t>(n);
  for (std::size_t i = in.size(); i > 0 && in[i - 1] == '='; --i) --len;
  out.resize(len);
  return out;
}

// A server context holding one certificate and key.
std::shared_ptr<void> ServerContext(const std::string& cert_pem, const std::string& key_pem) {
  SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
  if (ctx == nullptr) throw std::runtime_error("mail server: no TLS context");
  std::shared_ptr<void> owner(ctx, [](void* p) { SSL_CTX_free(static_cast<SSL_CTX*>(p)); });
  SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
  BIO* cb = BIO_new_mem_buf(cert_pem.data(), static_cast<int>(cert_pem.size()));
  X509* cert = PEM_read_bio_X509(cb, nullptr, nullptr, nullptr);
  BIO_free(cb);
  BIO* kb = BIO_new_mem_buf(key_pem.data(), static_cast<int>(key_pem.size()));
  EVP_PKEY* key = PEM_read_bio_PrivateKey(kb, nullptr, nullptr, nullptr);
  BIO_free(kb);
  const bool ok = cert != nullptr && key != nullptr && SSL_CTX_use_certificate(ctx, cert) == 1 &&
                  SSL_CTX_use_PrivateKey(ctx, key) == 1;
  X509_free(cert);
  EVP_PKEY_free(key);
  if (!ok) throw std::runtime_error("mail server: unusable certificate or key");
  return owner;
}

}  // namespace

std::vector<std::string> SampleMessages() {
  return {
      "From: Ada <ada@example.invalid>\r\nTo: user@example.invalid\r\nSubject: Welcome to "
      "Dovrik\r\nDate: Mon, 7 Dec 2026 09:15:00 +0000\r\n\r\nHello,\r\n\r\nthis is the demo "
      "mailbox.\r\n.\r\nA line with a single dot is above.\r\n",
      "From: Bram <bram@example.invalid>\r\nTo: user@example.invalid\r\nSubject: Lunch?\r\n"
      "Date: Tue, 8 Dec 2026 11:30:00 +0000\r\n\r\nNoon at the usual place?\r\n",
      "From: Cato <cato@example.invalid>\r\nTo: user@example.invalid\r\nSubject: Report\r\n"
      "Date: Wed, 9 Dec 2026 16:45:00 +0000\r\n\r\nThe report is attached in spirit.\r\n",
  };
}

MailServer::MailServer(MailBehaviour behaviour, std::uint16_t port)
    : behaviour_(std::move(behaviour)) {
  for (std::string& m : behaviour_.messages) AddMessage(std::move(m));
  behaviour_.messages.clear();
  if (behaviour_.tls != MailTls::kNone) {
    tls_context_ = ServerContext(behaviour_.cert_pem, behaviour_.key_pem);
    // OpenSSL writes to the socket without MSG_NOSIGNAL: a client that hangs up while a reply
    // goes out must be a failed write, not the end of the test process.
    signal(SIGPIPE, SIG_IGN);
  }
  stop_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (stop_fd_ < 0 || listen_fd_ < 0) throw std::runtime_error("mail server: no descriptors");
  const int one = 1;
  setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(port);
  if (bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
    throw std::runtime_error(std::string("mail server: bind: ") + std::strerror(errno));
  // A zero backlog lets one connection wait; the filler takes that place so later connects hang.
  if (listen(listen_fd_, behaviour_.never_accept ? 0 : 64) != 0)
    throw std::runtime_error(std::string("mail server: listen: ") + std::strerror(errno));
  socklen_t len = sizeof addr;
  getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  if (behaviour_.never_accept) {
    filler_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (connect(filler_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
      throw std::runtime_error("mail server: filler connect failed");
  }
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

MailServer::~MailServer() {
  const std::uint64_t one = 1;
  [[maybe_unused]] auto n = write(stop_fd_, &one, sizeof one);
  acceptor_.join();
  std::vector<std::unique_ptr<Connection>> connections;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    connections.swap(connections_);
  }
  for (auto& c : connections) c->thread.join();
  if (filler_fd_ >= 0) close(filler_fd_);
  close(listen_fd_);
  close(stop_fd_);
}

std::size_t MailServer::Connections() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return connections_.size();
}

std::string MailServer::Received(std::size_t i) const {
  std::lock_guard<std::mutex> guard(mutex_);
  return i < connections_.size() ? connections_[i]->received : std::string();
}

std::string MailServer::ReceivedInClear(std::size_t i) const {
  std::lock_guard<std::mutex> guard(mutex_);
  if (i >= connections_.size()) return {};
  const Connection& c = *connections_[i];
  return c.received.substr(0, c.clear_size);
}

bool MailServer::Encrypted(std::size_t i) const {
  std::lock_guard<std::mutex> guard(mutex_);
  return i < connections_.size() && connections_[i]->encrypted;
}

std::size_t MailServer::MailboxCount() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return mailbox_.size();
}

std::string MailServer::MessageText(std::size_t i) const {
  std::lock_guard<std::mutex> guard(mutex_);
  return i < mailbox_.size() ? *mailbox_[i].text : std::string();
}

std::string MailServer::MessageUidl(std::size_t i) const {
  std::lock_guard<std::mutex> guard(mutex_);
  return i < mailbox_.size() ? mailbox_[i].uidl : std::string();
}

void MailServer::AddMessage(std::string text) {
  std::lock_guard<std::mutex> guard(mutex_);
  mailbox_.push_back(
      {std::make_shared<const std::string>(std::move(text)), "uid" + std::to_string(next_uidl_++)});
}

void MailServer::RemoveMessage(std::size_t i) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (i < mailbox_.size()) mailbox_.erase(mailbox_.begin() + static_cast<long>(i));
}

bool MailServer::WaitConnections(std::size_t n, std::chrono::milliseconds bound) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, bound, [&] { return connections_.size() >= n; });
}

bool MailServer::WaitCuts(std::size_t n, std::chrono::milliseconds bound) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, bound, [&] { return cuts_ >= n; });
}

bool MailServer::WaitClosed(std::size_t n, std::chrono::milliseconds bound) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, bound, [&] { return closed_ >= n; });
}

void MailServer::AcceptLoop() {
  for (;;) {
    pollfd fds[2] = {{stop_fd_, POLLIN, 0}, {listen_fd_, POLLIN, 0}};
    const int nfds = behaviour_.never_accept ? 1 : 2;
    if (poll(fds, nfds, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[0].revents) return;
    if (!(fds[1].revents & POLLIN)) continue;
    const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) continue;
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, 1 /* TCP_NODELAY */, &one, sizeof one);
    auto c = std::make_unique<Connection>();
    c->fd = fd;
    Connection& ref = *c;
    std::lock_guard<std::mutex> guard(mutex_);
    connections_.push_back(std::move(c));
    ref.thread = std::thread([this, &ref] { Serve(ref); });
    changed_.notify_all();
  }
}

bool MailServer::Pause(int ms) {
  pollfd fd{stop_fd_, POLLIN, 0};
  return poll(&fd, 1, ms) == 0;  // false once the server stops
}

bool MailServer::WaitFd(Connection& c, short events) {
  for (;;) {
    pollfd fds[2] = {{stop_fd_, POLLIN, 0}, {c.fd, events, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    return fds[0].revents == 0;
  }
}

bool MailServer::StartTls(Connection& c) {
  if (behaviour_.tls_stall) {
    Drain(c);
    return false;
  }
  {
    std::lock_guard<std::mutex> guard(mutex_);
    c.clear_size = c.received.size();
  }
  // Whatever came in clear after the command is not part of the encrypted session.
  c.input.clear();
  c.ssl = SSL_new(static_cast<SSL_CTX*>(tls_context_.get()));
  if (c.ssl == nullptr || SSL_set_fd(c.ssl, c.fd) != 1) return false;
  for (;;) {
    const int r = SSL_accept(c.ssl);
    if (r == 1) break;
    const int e = SSL_get_error(c.ssl, r);
    ERR_clear_error();
    if (e == SSL_ERROR_WANT_READ) {
      if (!WaitFd(c, POLLIN)) return false;
    } else if (e == SSL_ERROR_WANT_WRITE) {
      if (!WaitFd(c, POLLOUT)) return false;
    } else {
      return false;  // the client gave up (a certificate it refused, say)
    }
  }
  std::lock_guard<std::mutex> guard(mutex_);
  c.encrypted = true;
  changed_.notify_all();
  return true;
}

bool MailServer::ReadMore(Connection& c) {
  while (c.ssl != nullptr) {
    char buf[16384];
    const int n = SSL_read(c.ssl, buf, sizeof buf);
    if (n > 0) {
      c.input.append(buf, static_cast<std::size_t>(n));
      std::lock_guard<std::mutex> guard(mutex_);
      c.received.append(buf, static_cast<std::size_t>(n));
      changed_.notify_all();
      return true;
    }
    const int e = SSL_get_error(c.ssl, n);
    ERR_clear_error();
    if (e == SSL_ERROR_WANT_READ) {
      if (!WaitFd(c, POLLIN)) return false;
    } else if (e == SSL_ERROR_WANT_WRITE) {
      if (!WaitFd(c, POLLOUT)) return false;
    } else {
      return false;
    }
  }
  for (;;) {
    pollfd fds[2] = {{stop_fd_, POLLIN, 0}, {c.fd, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (fds[0].revents) return false;
    char buf[65536];
    const ssize_t n = recv(c.fd, buf, sizeof buf, 0);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n <= 0) return false;
    c.input.append(buf, static_cast<std::size_t>(n));
    std::lock_guard<std::mutex> guard(mutex_);
    c.received.append(buf, static_cast<std::size_t>(n));
    changed_.notify_all();
    return true;
  }
}

bool MailServer::ReadLine(Connection& c, std::string& line) {
  for (;;) {
    const std::size_t lf = c.input.find('\n');
    if (lf != std::string::npos) {
      line.assign(c.input, 0, lf);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      c.input.erase(0, lf + 1);
      return true;
    }
    if (!ReadMore(c)) return false;
  }
}

void MailServer::Drain(Connection& c) {
  while (ReadMore(c)) c.input.clear();
}

bool MailServer::SendReply(Connection& c, std::string_view bytes) {
  if (behaviour_.split_gap_ms > 0) {
    const std::size_t first = bytes.find('\n');
    if (first != std::string_view::npos && first + 1 < bytes.size()) {
      return SendBytes(c, bytes.substr(0, first + 1)) && Pause(behaviour_.split_gap_ms) &&
             SendBytes(c, bytes.substr(first + 1));
    }
  }
  return SendBytes(c, bytes);
}

bool MailServer::SendBytes(Connection& c, std::string_view bytes) {
  const std::size_t step = behaviour_.trickle_gap_ms > 0 ? 1 : bytes.size();
  std::size_t done = 0;
  while (done < bytes.size()) {
    if (done > 0 && behaviour_.trickle_gap_ms > 0 && !Pause(behaviour_.trickle_gap_ms))
      return false;
    const std::size_t chunk = std::min(step, bytes.size() - done);
    std::size_t sent = 0;
    while (c.ssl != nullptr && sent < chunk) {
      const int n = SSL_write(c.ssl, bytes.data() + done + sent, static_cast<int>(chunk - sent));
      if (n > 0) {
        sent += static_cast<std::size_t>(n);
        continue;
      }
      const int e = SSL_get_error(c.ssl, n);
      ERR_clear_error();
      if (e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE) return false;
      if (!WaitFd(c, e == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT)) return false;
    }
    while (sent < chunk) {
      const ssize_t n = send(c.fd, bytes.data() + done + sent, chunk - sent, MSG_NOSIGNAL);
      if (n > 0) {
        sent += static_cast<std::size_t>(n);
        continue;
      }
      if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
      pollfd fds[2] = {{stop_fd_, POLLIN, 0}, {c.fd, POLLOUT, 0}};
      if (poll(fds, 2, -1) < 0 && errno != EINTR) return false;
      if (fds[0].revents) return false;
    }
    done += chunk;
  }
  return true;
}

void MailServer::Serve(Connection& c) {
  if (behaviour_.silent) {
    Drain(c);
  } else if (behaviour_.tls != MailTls::kImplicit || StartTls(c)) {
    if (behaviour_.protocol == MailProtocol::kPop3)
      ServePop3(c);
    else
      ServeSmtp(c);
  }
  if (c.fd >= 0) close(c.fd);
  std::lock_guard<std::mutex> guard(mutex_);
  ++closed_;
  changed_.notify_all();
}

void MailServer::ServePop3(Connection& c) {
  const MailBehaviour& b = behaviour_;
  if (!SendReply(c, b.greeting.empty() ? "+OK Dovrik test server ready\r\n" : b.greeting)) return;
  const std::string refused = Upper(b.refuse);
  const std::string unanswered = Upper(b.unanswered);
  int pass_refusals = b.refuse_pass_count;
  bool user_given = false;
  bool authorised = false;
  bool first = true;
  std::vector<std::size_t> deleted;
  std::vector<std::string> deleted_ids;
  std::string line;
  while (ReadLine(c, line)) {
    if (first && !b.greeting_late.empty() && !SendReply(c, b.greeting_late)) return;
    first = false;
    const std::size_t blank = line.find(' ');
    const std::string word = Upper(line.substr(0, blank));
    const std::string arg = blank == std::string::npos ? std::string() : line.substr(blank + 1);
    if (!unanswered.empty() && word == unanswered) {
      if (!b.unanswered_closes) Drain(c);
      return;
    }
    std::string reply;
    std::vector<Stored> box;
    {
      std::lock_guard<std::mutex> guard(mutex_);
      box = mailbox_;
    }
    std::size_t total = 0;
    for (const auto& m : box) total += m.text->size();
    const int n = std::atoi(arg.c_str());
    const bool valid = n >= 1 && static_cast<std::size_t>(n) <= box.size() &&
                       std::find(deleted.begin(), deleted.end(), n - 1) == deleted.end();
    if (!refused.empty() && word == refused) {
      reply = b.refusal.empty() ? "-ERR refused\r\n" : b.refusal;
    } else if (word == "STLS" && b.tls == MailTls::kStartTls && b.tls_offered && !c.ssl &&
               !user_given) {
      if (!SendReply(c, "+OK Begin TLS negotiation\r\n" + b.tls_extra) || b.tls_drop ||
          !StartTls(c))
        return;
      continue;
    } else if (word == "STLS") {
      reply = "-ERR STLS not available\r\n";
    } else if (word == "USER") {
      user_given = true;
      reply = "+OK\r\n";
    } else if (word == "PASS") {
      if (!user_given) {
        reply = "-ERR USER first\r\n";
      } else if (pass_refusals > 0) {
        --pass_refusals;
        user_given = false;  // as real servers do: a new try starts with USER
        reply = "-ERR invalid password\r\n";
      } else if (arg == b.pass) {
        authorised = true;
        reply = "+OK mailbox open\r\n";
      } else {
        user_given = false;
        reply = "-ERR invalid password\r\n";
      }
    } else if (word == "LIST" && (authorised || (user_given && b.list_after_user))) {
      reply = "+OK " + std::to_string(box.size()) + " messages\r\n";
      for (std::size_t i = 0; i < box.size(); ++i)
        reply += std::to_string(i + 1) + " " + std::to_string(box[i].text->size()) + "\r\n";
      reply += ".\r\n";
    } else if (word == "LIST") {
      reply = "-ERR not authorised\r\n";
    } else if (word == "QUIT") {
      if (authorised || b.list_after_user) {
        std::lock_guard<std::mutex> guard(mutex_);
        // By id: the mailbox may have changed since this session read it.
        for (const std::string& id : deleted_ids)
          std::erase_if(mailbox_, [&](const Stored& m) { return m.uidl == id; });
      }
      SendReply(c, "+OK bye\r\n");
      return;
    } else if (!authorised && !(user_given && b.list_after_user)) {
      reply = "-ERR not authorised\r\n";
    } else if (word == "STAT") {
      reply = "+OK " + std::to_string(box.size()) + " " + std::to_string(total) + "\r\n";
    } else if (word == "RETR" && valid) {
      // Framed once per message, so large replies cost the server little.
      std::shared_ptr<const std::string> framed;
      {
        std::lock_guard<std::mutex> guard(mutex_);
        const auto& m = box[static_cast<std::size_t>(n - 1)].text;
        auto& slot = retr_cache_[m.get()];
        const std::string status = b.retr_status.empty()
                                       ? "+OK " + std::to_string(m->size()) + " octets\r\n"
                                       : b.retr_status;
        if (!slot) slot = std::make_shared<const std::string>(status + StuffedBody(*m));
        framed = slot;
      }
      if (b.cut == MailCut::kEndless) {
        // The status line and a first chunk, then more of the same until the client leaves.
        const std::string chunk = [] {
          std::string line(1022, 'e');
          line += "\r\n";
          std::string out;
          for (int i = 0; i < 64; ++i) out += line;
          return out;
        }();
        const std::size_t status_end = framed->find("\r\n") + 2;
        if (!SendReply(c, std::string_view(*framed).substr(0, status_end))) return;
        while (SendBytes(c, chunk)) {
        }
        return;
      }
      if (b.cut != MailCut::kNone) {
        if (!SendReply(c,
                       std::string_view(*framed).substr(0, std::min(b.cut_after, framed->size()))))
          return;
        auto count_cut = [&] {
          std::lock_guard<std::mutex> guard(mutex_);
          ++cuts_;
          changed_.notify_all();
        };
        if (b.cut == MailCut::kStall) {
          count_cut();
          Drain(c);
          return;
        }
        if (b.cut == MailCut::kReset) {
          const linger hard{1, 0};
          setsockopt(c.fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        }
        close(c.fd);
        c.fd = -1;
        count_cut();
        return;
      }
      if (!SendReply(c, *framed)) return;
      continue;
    } else if (word == "UIDL" && arg.empty()) {
      reply = "+OK\r\n";
      for (std::size_t i = 0; i < box.size(); ++i)
        if (std::find(deleted.begin(), deleted.end(), i) == deleted.end())
          reply += std::to_string(i + 1) + " " + box[i].uidl + "\r\n";
      reply += ".\r\n";
    } else if (word == "UIDL" && valid) {
      reply = "+OK " + std::to_string(n) + " " + box[static_cast<std::size_t>(n - 1)].uidl + "\r\n";
    } else if (word == "DELE" && valid) {
      deleted.push_back(static_cast<std::size_t>(n - 1));
      deleted_ids.push_back(box[static_cast<std::size_t>(n - 1)].uidl);
      reply = "+OK deleted\r\n";
    } else if (word == "RETR" || word == "DELE" || word == "UIDL") {
      reply = "-ERR no such message\r\n";
    } else {
      reply = "-ERR unknown command\r\n";
    }
    if (!SendReply(c, reply)) return;
  }
}

void MailServer::ServeSmtp(Connection& c) {
  const MailBehaviour& b = behaviour_;
  // Split replies become two-line replies: a continuation line, then the reply itself.
  auto reply_bytes = [&](const std::string& r) {
    return b.split_gap_ms > 0 && r.size() >= 4 ? r.substr(0, 3) + "-Dovrik\r\n" + r : r;
  };
  if (!SendReply(c,
                 reply_bytes(b.greeting.empty() ? "220 Dovrik test server ready\r\n" : b.greeting)))
    return;
  const std::string refused = Upper(b.refuse);
  const std::string refusal = b.refusal.empty() ? "550 refused\r\n" : b.refusal;
  bool first = true;
  std::string line;
  while (ReadLine(c, line)) {
    if (first && !b.greeting_late.empty() && !SendReply(c, b.greeting_late)) return;
    first = false;
    std::string word = Upper(line.substr(0, line.find_first_of(" :")));
    std::string reply;
    const bool starttls = b.tls == MailTls::kStartTls && b.tls_offered && !c.ssl;
    const bool login = !b.auth.empty() && (c.ssl || b.tls == MailTls::kNone);
    if (!refused.empty() && word == refused) {
      reply = refusal;
    } else if (word == "EHLO" && (starttls || login)) {
      reply = "250-Dovrik test server\r\n";
      if (starttls) reply += "250-STARTTLS\r\n";
      if (login) reply += "250-AUTH " + b.auth + "\r\n";
      reply += "250 8BITMIME\r\n";
    } else if (word == "STARTTLS" && starttls) {
      const std::string go_ahead =
          b.starttls_go_ahead.empty() ? "220 Ready to start TLS\r\n" : b.starttls_go_ahead;
      if (!SendReply(c, go_ahead + b.tls_extra) || b.tls_drop || !StartTls(c)) return;
      continue;
    } else if (word == "STARTTLS") {
      reply = "454 TLS not available\r\n";
    } else if (word == "AUTH" && login && !c.authenticated) {
      if (!ServeAuth(c, line)) return;
      continue;
    } else if (word == "MAIL" && b.auth_required && !c.authenticated) {
      reply = "530 Authentication required\r\n";
    } else if (word == "HELO" || word == "EHLO" || word == "MAIL" || word == "RCPT" ||
               word == "RSET" || word == "NOOP") {
      reply = "250 OK\r\n";
    } else if (word == "DATA") {
      if (!SendReply(c, reply_bytes("354 End data with <CR><LF>.<CR><LF>\r\n"))) return;
      // The data ends at the first line that is a single dot.
      std::size_t end;
      while ((end = c.input.find("\r\n.\r\n")) == std::string::npos &&
             c.input.compare(0, 3, ".\r\n") != 0)
        if (!ReadMore(c)) return;
      const std::size_t consumed = end == std::string::npos ? 3 : end + 5;
      {
        std::lock_guard<std::mutex> guard(mutex_);
        mailbox_.push_back({std::make_shared<const std::string>(c.input.substr(0, consumed)),
                            "uid" + std::to_string(next_uidl_++)});
      }
      c.input.erase(0, consumed);
      reply = refused == "." ? refusal : "250 queued\r\n";
    } else if (word == "QUIT") {
      SendReply(c, "221 bye\r\n");
      return;
    } else {
      reply = "500 unrecognised command\r\n";
    }
    if (!SendReply(c, reply_bytes(reply))) return;
  }
}

}  // namespace dovrik::tools

namespace dovrik::tools {

// AUTH PLAIN (with or without the initial response) and AUTH LOGIN against user and pass.
bool MailServer::ServeAuth(Connection& c, const std::string& line) {
  const MailBehaviour& b = behaviour_;
  std::string rest = line.substr(std::min(line.size(), std::size_t{5}));
  const std::size_t blank = rest.find(' ');
  const std::string mechanism = Upper(rest.substr(0, blank));
  std::string initial = blank == std::string::npos ? std::string() : rest.substr(blank + 1);
  auto ask = [&](std::string_view prompt, std::string& answer) {
    return SendReply(c, "334 " + std::string(prompt) + "\r\n") && ReadLine(c, answer);
  };
  bool ok = false;
  if (mechanism == "PLAIN") {
    if (initial.empty() && !ask("", initial)) return false;
    ok = Base64Decode(initial) == std::string(1, '\0') + b.user + '\0' + b.pass;
  } else if (mechanism == "LOGIN") {
    std::string user;
    std::string pass;
    if (!ask("VXNlcm5hbWU6", user) || !ask("UGFzc3dvcmQ6", pass)) return false;
    ok = Base64Decode(user) == b.user && Base64Decode(pass) == b.pass;
  } else {
    return SendReply(c, "504 Unrecognised authentication type\r\n");
  }
  c.authenticated = ok;
  return SendReply(
      c, ok ? "235 Authentication successful\r\n" : "535 Authentication credentials invalid\r\n");
}

}  // namespace dovrik::tools
