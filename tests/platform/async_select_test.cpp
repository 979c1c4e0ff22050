#include "platform/async_select.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "tests/support/pump_until.h"

namespace dovrik::platform {
namespace {

using testsupport::PumpFor;
using testsupport::PumpUntil;

constexpr std::uint32_t kSocketMsg = kUserMessage + 1;

struct Note {
  int fd;
  int bits;
  int error;
};

sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

// A blocking listener on 127.0.0.1, free port, driven directly with system calls.
struct Listener {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  std::uint16_t port = 0;
  Listener() {
    sockaddr_in a = Loopback(0);
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    EXPECT_EQ(::listen(fd, 8), 0);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
  }
  ~Listener() { ::close(fd); }
  int AcceptOne() { return ::accept(fd, nullptr, nullptr); }
};

class AsyncSelectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    PumpMessages();
    window_ = AllocateHWnd([this](const Message& m) {
      ASSERT_EQ(m.msg, kSocketMsg);
      notes_.push_back({static_cast<int>(m.wparam), static_cast<int>(m.lparam & 0xFFFF),
                        static_cast<int>((m.lparam >> 16) & 0xFFFF)});
    });
  }
  void TearDown() override {
    if (client_ != kInvalidSocket) CloseSocket(client_);
    if (server_ >= 0) ::close(server_);
    DeallocateHWnd(window_);
  }

  int Count(int bits) const {
    int n = 0;
    for (const auto& x : notes_) n += (x.bits & bits) ? 1 : 0;
    return n;
  }
  bool WaitFor(int bits, int times = 1) {
    return PumpUntil([&] { return Count(bits) >= times; });
  }

  // Client registered for everything and connected to the listener; server side accepted.
  void ConnectPair(int mask = kFdRead | kFdWrite | kFdConnect | kFdClose) {
    client_ = Socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_NE(client_, kInvalidSocket);
    ASSERT_EQ(AsyncSelect(client_, window_, kSocketMsg, mask), 0);
    sockaddr_in a = Loopback(listener_.port);
    int rc = Connect(client_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    if (rc != 0) {
      EXPECT_EQ(LastSocketError(), 10035);
    }
    server_ = listener_.AcceptOne();
    ASSERT_GE(server_, 0);
    if (mask & kFdConnect) {
      ASSERT_TRUE(WaitFor(kFdConnect));
    }
  }

  Listener listener_;
  WindowHandle window_ = 0;
  SocketHandle client_ = kInvalidSocket;
  int server_ = -1;
  std::vector<Note> notes_;
};

TEST_F(AsyncSelectTest, ConnectInProgressIsWouldBlockThenConnectAndOneWrite) {
  client_ = Socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_NE(client_, kInvalidSocket);
  ASSERT_EQ(AsyncSelect(client_, window_, kSocketMsg, kFdRead | kFdWrite | kFdConnect | kFdClose),
            0);
  EXPECT_EQ(PumpFor(20), 0);  // an unconnected socket reports nothing (no hang-up spin)
  sockaddr_in a = Loopback(listener_.port);
  EXPECT_EQ(Connect(client_, reinterpret_cast<sockaddr*>(&a), sizeof a), -1);
  EXPECT_EQ(LastSocketError(), 10035);
  ASSERT_TRUE(WaitFor(kFdWrite));
  ASSERT_GE(notes_.size(), 2u);
  EXPECT_EQ(notes_[0].bits, kFdConnect);
  EXPECT_EQ(notes_[0].error, 0);
  EXPECT_EQ(notes_[0].fd, client_);
  EXPECT_EQ(notes_[1].bits, kFdWrite);
  // Sending that succeeds does not re-post write.
  EXPECT_EQ(Send(client_, "abc", 3, 0), 3);
  EXPECT_EQ(PumpFor(30), 0);
  EXPECT_EQ(Count(kFdWrite), 1);
}

TEST_F(AsyncSelectTest, ReadIsPostedOnceUntilTheNextReceive) {
  ConnectPair();
  ASSERT_EQ(::write(server_, "hello", 5), 5);
  ASSERT_TRUE(WaitFor(kFdRead));
  ASSERT_EQ(::write(server_, "more", 4), 4);
  EXPECT_EQ(PumpFor(30), 0);  // no receive yet: no second read
  EXPECT_EQ(Count(kFdRead), 1);
  char buf[64];
  EXPECT_EQ(Recv(client_, buf, 2, 0), 2);  // bytes remain: read comes again at once
  ASSERT_TRUE(WaitFor(kFdRead, 2));
  EXPECT_EQ(Recv(client_, buf, sizeof buf, 0), 7);
  EXPECT_EQ(PumpFor(30), 0);  // drained: nothing more
  EXPECT_EQ(Recv(client_, buf, sizeof buf, 0), -1);
  EXPECT_EQ(LastSocketError(), 10035);
  EXPECT_EQ(Count(kFdRead), 2);
}

TEST_F(AsyncSelectTest, PeerDataThenCloseGivesReadBeforeOneClose) {
  ConnectPair();
  ASSERT_EQ(::write(server_, "bye", 3), 3);
  ::close(server_);
  server_ = -1;
  ASSERT_TRUE(WaitFor(kFdClose));
  std::vector<int> seq;
  for (const auto& n : notes_)
    if (n.bits & (kFdRead | kFdClose)) seq.push_back(n.bits);
  EXPECT_EQ(seq, (std::vector<int>{kFdRead, kFdClose}));
  EXPECT_EQ(notes_.back().error, 0);
  char buf[16];
  EXPECT_EQ(Recv(client_, buf, sizeof buf, 0), 3);
  EXPECT_EQ(Recv(client_, buf, sizeof buf, 0), 0);
  EXPECT_FALSE(WaitMessages(30));  // an ended stream does not keep the queue busy
  EXPECT_EQ(PumpFor(10), 0);
  EXPECT_EQ(Count(kFdClose), 1);
}

TEST_F(AsyncSelectTest, PeerResetIsCloseWith10054) {
  ConnectPair();
  linger lg{1, 0};
  ASSERT_EQ(::setsockopt(server_, SOL_SOCKET, SO_LINGER, &lg, sizeof lg), 0);
  ::close(server_);
  server_ = -1;
  ASSERT_TRUE(WaitFor(kFdClose));
  EXPECT_EQ(notes_.back().error, 10054);
  EXPECT_EQ(PumpFor(30), 0);
  EXPECT_EQ(Count(kFdClose), 1);
}

TEST_F(AsyncSelectTest, RefusedConnectionIsConnectWith10061AndNothingElse) {
  std::uint16_t port;
  {
    Listener gone;  // a port that was free a moment ago and has nobody listening now
    port = gone.port;
  }
  client_ = Socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(AsyncSelect(client_, window_, kSocketMsg, kFdRead | kFdWrite | kFdConnect | kFdClose),
            0);
  sockaddr_in a = Loopback(port);
  int rc = Connect(client_, reinterpret_cast<sockaddr*>(&a), sizeof a);
  if (rc != 0 && LastSocketError() != 10035) {
    EXPECT_EQ(LastSocketError(), 10061);  // refused at once is reported by the call itself
    return;
  }
  ASSERT_TRUE(WaitFor(kFdConnect));
  ASSERT_EQ(notes_.size(), 1u);
  EXPECT_EQ(notes_[0].error, 10061);
  EXPECT_EQ(PumpFor(30), 0);
  EXPECT_EQ(notes_.size(), 1u);
}

TEST_F(AsyncSelectTest, AcceptIsRearmedByAccept) {
  SocketHandle lst = Socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = Loopback(0);
  ASSERT_EQ(Bind(lst, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(AsyncSelect(lst, window_, kSocketMsg, kFdAccept | kFdRead | kFdClose), 0);
  ASSERT_EQ(Listen(lst, 8), 0);
  socklen_t len = sizeof a;
  ASSERT_EQ(GetSockName(lst, reinterpret_cast<sockaddr*>(&a), &len), 0);
  int c1 = ::socket(AF_INET, SOCK_STREAM, 0);
  int c2 = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(::connect(c1, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(::connect(c2, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_TRUE(WaitFor(kFdAccept));
  EXPECT_EQ(PumpFor(30), 0);  // two pending, one notification until Accept
  SocketHandle s1 = Accept(lst, nullptr, nullptr);
  ASSERT_NE(s1, kInvalidSocket);
  ASSERT_TRUE(WaitFor(kFdAccept, 2));  // the second one is announced again
  SocketHandle s2 = Accept(lst, nullptr, nullptr);
  ASSERT_NE(s2, kInvalidSocket);
  EXPECT_EQ(PumpFor(30), 0);
  EXPECT_EQ(Accept(lst, nullptr, nullptr), kInvalidSocket);
  EXPECT_EQ(LastSocketError(), 10035);
  EXPECT_EQ(Count(kFdAccept), 2);
  for (int fd : {s1, s2, lst}) CloseSocket(fd);
  ::close(c1);
  ::close(c2);
}

TEST_F(AsyncSelectTest, WriteComesAgainOnlyAfterASendWouldBlock) {
  ConnectPair();
  ASSERT_TRUE(WaitFor(kFdWrite));
  int small = 4096;
  SetSockOpt(client_, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  std::vector<char> chunk(65536, 'x');
  long sent = 0;
  for (;;) {
    int n = Send(client_, chunk.data(), static_cast<int>(chunk.size()), 0);
    if (n < 0) break;
    sent += n;
  }
  EXPECT_EQ(LastSocketError(), 10035);
  EXPECT_EQ(Count(kFdWrite), 1);
  // The peer drains; writable again gives exactly one more write.
  std::vector<char> sink(1 << 20);
  long got = 0;
  while (got < sent) {
    ssize_t n = ::read(server_, sink.data(), sink.size());
    ASSERT_GT(n, 0);
    got += n;
  }
  ASSERT_TRUE(WaitFor(kFdWrite, 2));
  EXPECT_EQ(PumpFor(30), 0);
  EXPECT_EQ(Count(kFdWrite), 2);
}

TEST_F(AsyncSelectTest, CloseSocketDropsQueuedNotificationsEvenIfTheNumberIsReused) {
  ConnectPair();
  PumpFor(10);
  notes_.clear();
  ASSERT_EQ(::write(server_, "x", 1), 1);
  ASSERT_TRUE(WaitMessages(5000));  // the read notification is harvested, not dispatched
  const int old_fd = client_;
  CloseSocket(client_);
  // The kernel hands out the lowest free number: very likely the same one.
  client_ = Socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(AsyncSelect(client_, window_, kSocketMsg, kFdRead | kFdClose), 0);
  EXPECT_EQ(PumpFor(30), 0);
  EXPECT_TRUE(notes_.empty()) << "old fd " << old_fd << ", new fd " << client_;
}

TEST_F(AsyncSelectTest, UnregisteringStopsNotifications) {
  ConnectPair();
  PumpFor(10);
  notes_.clear();
  ASSERT_EQ(AsyncSelect(client_, 0, 0, 0), 0);
  ASSERT_EQ(::write(server_, "x", 1), 1);
  EXPECT_EQ(PumpFor(30), 0);
  // Registering again reports what already holds: data waiting, and writable.
  ASSERT_EQ(AsyncSelect(client_, window_, kSocketMsg, kFdRead | kFdWrite | kFdClose), 0);
  EXPECT_TRUE(WaitFor(kFdRead));
  EXPECT_TRUE(WaitFor(kFdWrite));
}

TEST_F(AsyncSelectTest, DatagramSocketIsWritableAtRegistrationAndReadable) {
  client_ = Socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a = Loopback(0);
  ASSERT_EQ(Bind(client_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  socklen_t len = sizeof a;
  ASSERT_EQ(GetSockName(client_, reinterpret_cast<sockaddr*>(&a), &len), 0);
  ASSERT_EQ(AsyncSelect(client_, window_, kSocketMsg, kFdRead | kFdWrite), 0);
  ASSERT_TRUE(WaitFor(kFdWrite));
  EXPECT_EQ(SendTo(client_, "ping", 4, 0, reinterpret_cast<sockaddr*>(&a), sizeof a), 4);
  ASSERT_TRUE(WaitFor(kFdRead));
  char buf[8];
  sockaddr_in from{};
  socklen_t flen = sizeof from;
  EXPECT_EQ(RecvFrom(client_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &flen), 4);
  EXPECT_EQ(PumpFor(30), 0);
  EXPECT_EQ(Count(kFdWrite), 1);
}

TEST_F(AsyncSelectTest, DatagramErrorGoesToTheNextReceiveWithoutSpinning) {
  std::uint16_t port;
  {
    int probe = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a = Loopback(0);
    ::bind(probe, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    ::close(probe);  // nobody listens there now: the kernel answers with a refusal
  }
  client_ = Socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in to = Loopback(port);
  ASSERT_EQ(Connect(client_, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
  ASSERT_EQ(AsyncSelect(client_, window_, kSocketMsg, kFdRead), 0);
  ASSERT_EQ(Send(client_, "x", 1, 0), 1);
  ASSERT_TRUE(WaitFor(kFdRead));
  char c;
  EXPECT_EQ(Recv(client_, &c, 1, 0), -1);
  EXPECT_EQ(LastSocketError(), 10061);
  EXPECT_FALSE(WaitMessages(30));
  EXPECT_EQ(Count(kFdRead), 1);
}

TEST(AsyncSelectErrors, CallsTranslateErrorsToWindowsSocketsNumbers) {
  WindowHandle w = AllocateHWnd([](const Message&) {});
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  EXPECT_EQ(AsyncSelect(fds[0], w, kSocketMsg, kFdRead), -1);
  EXPECT_EQ(LastSocketError(), 10038);  // not a socket
  ::close(fds[0]);
  ::close(fds[1]);
  SocketHandle s = Socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_NE(s, kInvalidSocket);
  EXPECT_EQ(AsyncSelect(s, w + 1000000, kSocketMsg, kFdRead), -1);  // no such window here
  EXPECT_EQ(LastSocketError(), 10022);
  char c;
  EXPECT_EQ(Recv(s, &c, 1, 0), -1);
  EXPECT_EQ(LastSocketError(), 10057);  // not connected
  EXPECT_EQ(BytesAvailable(s), 0);
  CloseSocket(s);
  EXPECT_EQ(Recv(s, &c, 1, 0), -1);
  EXPECT_EQ(LastSocketError(), 10009);
  EXPECT_EQ(Socket(12345, SOCK_STREAM, 0), kInvalidSocket);
  EXPECT_EQ(LastSocketError(), 10047);
  int saved = LastSocketError();
  std::thread([&] { SetLastSocketError(1); }).join();
  EXPECT_EQ(LastSocketError(), saved);  // per thread
  DeallocateHWnd(w);
}

}  // namespace
}  // namespace dovrik::platform
