// Loopback fixtures for the socket tests: a plain listening socket, event recording and a
// bounded pump that waits for the queue instead of sleeping.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/message_queue.h"
#include "socket/wsocket.h"
#include "tests/support/fake_clock.h"
#include "tests/support/pump_until.h"

namespace dovrik::test {

using testsupport::PumpUntil;

// Owns a plain descriptor.
struct Fd {
  int fd = -1;
  Fd() = default;
  explicit Fd(int f) : fd(f) {}
  Fd(Fd&& o) noexcept : fd(o.fd) { o.fd = -1; }
  Fd& operator=(Fd&& o) noexcept {
    if (this != &o) {
      reset();
      fd = o.fd;
      o.fd = -1;
    }
    return *this;
  }
  ~Fd() { reset(); }
  void reset() {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
};

// The message of the ESocketException that f raises, or "(no exception)".
inline std::string ExceptionMessage(const std::function<void()>& f) {
  try {
    f();
  } catch (const ESocketException& e) {
    return e.Message();
  }
  return "(no exception)";
}

inline sockaddr_in Loopback(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

inline int LocalPort(int fd) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  return ntohs(a.sin_port);
}

// A blocking TCP socket bound to 127.0.0.1 on a free port; listening unless told otherwise
// (a bound socket that doesn't listen refuses connections).
struct PlainServer {
  Fd sock;
  int port = 0;
  explicit PlainServer(bool listening = true, int type = SOCK_STREAM) {
    sock = Fd(::socket(AF_INET, type, 0));
    sockaddr_in a = Loopback(0);
    ::bind(sock.fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    if (listening && type == SOCK_STREAM) ::listen(sock.fd, 8);
    port = LocalPort(sock.fd);
  }
  Fd Accept() { return Fd(::accept(sock.fd, nullptr, nullptr)); }
};

inline void SendAll(int fd, const std::string& data) {
  std::size_t off = 0;
  while (off < data.size()) {
    ssize_t n = ::send(fd, data.data() + off, data.size() - off, MSG_NOSIGNAL);
    if (n <= 0) return;
    off += static_cast<std::size_t>(n);
  }
}

// Reads until n bytes have arrived or the peer closes.
inline std::string RecvAll(int fd, std::size_t n) {
  std::string out;
  char buf[65536];
  while (out.size() < n) {
    ssize_t got = ::recv(fd, buf, sizeof buf, 0);
    if (got <= 0) break;
    out.append(buf, static_cast<std::size_t>(got));
  }
  return out;
}

inline const char* StateName(TSocketState s) {
  static const char* names[] = {"invalid",   "opened",    "bound",     "connecting",
                                "connected", "accepting", "listening", "closed"};
  return s <= wsClosed ? names[s] : "?";
}

// Records every event of a socket as text, in order. The lines are shared with the handlers,
// so a socket destroyed after its log can still record its close.
struct EventLog {
  std::shared_ptr<std::vector<std::string>> shared = std::make_shared<std::vector<std::string>>();
  std::vector<std::string>& lines = *shared;
  void Attach(TCustomWSocket& s) {
    auto out = shared;
    s.OnChangeState = [out](TObject*, TSocketState o, TSocketState n) {
      out->push_back(std::string("state ") + StateName(o) + ">" + StateName(n));
    };
    s.OnSessionConnected = [out](TObject*, Word e) {
      out->push_back("connected " + std::to_string(e));
    };
    s.OnSessionClosed = [out](TObject*, Word e) { out->push_back("closed " + std::to_string(e)); };
  }
  int Count(const std::string& line) const {
    int n = 0;
    for (const auto& l : lines) n += l == line;
    return n;
  }
};

using testsupport::ClockOverride;
using testsupport::FakeClock;

// A wait control double: Run pumps the queue until stopped or until its countdown of
// Caption() ticks (one per real 10 ms) runs out.
class FakeWait : public TWaitControl {
 public:
  explicit FakeWait(TComponent* owner = nullptr) : TWaitControl(owner) {}
  std::string Caption() const override { return caption; }
  void SetCaption(const std::string& v) override { caption = v; }
  bool Visible() const override { return visible; }
  void SetVisible(bool v) override { visible = v; }
  void Start() override {
    running = true;
    ++starts;
  }
  void Stop() override {
    running = false;
    ++stops;
  }
  void Run() override {
    Start();
    ++runs;
    const int ticks = ParseNumber(caption) > 0 ? ParseNumber(caption) : 15;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ticks * 10);
    while (running) {
      ProcessMessages();
      if (std::chrono::steady_clock::now() >= end) {
        running = false;  // timed out
        break;
      }
      platform::WaitMessages(5);
    }
  }
  bool Running() const override { return running; }

  std::string caption = "60";
  bool visible = true;
  bool running = false;
  int starts = 0, stops = 0, runs = 0;
};

}  // namespace dovrik::test
