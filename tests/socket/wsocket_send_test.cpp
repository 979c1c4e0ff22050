// The send chain on real loopback sockets.
#include <gtest/gtest.h>
#include <poll.h>

#include <thread>

#include "socket/wsocket.h"
#include "tests/socket/connected_pair.h"

namespace dovrik {
namespace {

using test::ConnectedPair;
using test::PumpUntil;

class ChainProbe : public TWSocket {
 public:
  using TWSocket::TWSocket;
  void Queue(const std::string& s) { BufferData(s.data(), static_cast<int>(s.size())); }
  std::vector<int> BlockFill() const {
    std::vector<int> fill;
    for (const auto& b : FSendBufferList) fill.push_back(b->WritePos());
    return fill;
  }
};

TEST(WSocketSend, ChainFillsBlocksOfBufferSize) {
  ChainProbe s;
  s.Queue(std::string(5000, 'x'));
  EXPECT_EQ(s.BlockFill(), (std::vector<int>{1514, 1514, 1514, 458}));
  s.Queue(std::string(100, 'y'));  // continues in the partly filled last block
  EXPECT_EQ(s.BlockFill(), (std::vector<int>{1514, 1514, 1514, 558}));
}

std::string Pattern(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + i / 977) & 0xFF);
  return s;
}

TEST(WSocketSend, PartialSendFiresDataSentOnlyAfterTheLastByte) {
  ConnectedPair p;
  int sent = 0;
  p.s().OnDataSent = [&](TObject*, Word e) {
    EXPECT_EQ(e, 0);
    EXPECT_TRUE(p.s().AllSent());
    ++sent;
  };
  int small = 16384;
  ::setsockopt(p.s().Handle(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  ::setsockopt(p.peer.fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);

  const std::string data = Pattern(4 << 20);
  EXPECT_EQ(p.s().SendStr(data), static_cast<int>(data.size()));
  EXPECT_FALSE(p.s().AllSent());  // the platform took only part
  platform::PumpMessages();
  EXPECT_EQ(sent, 0);

  std::string received;
  std::thread reader([&] { received = test::RecvAll(p.peer.fd, data.size()); });
  const bool done = PumpUntil([&] { return sent == 1; }, 20000);
  reader.join();
  ASSERT_TRUE(done);
  EXPECT_TRUE(received == data);
}

TEST(WSocketSend, ZeroBytesAndSmallSendsReportFromTheMessageLoop) {
  ConnectedPair p;
  int sent = 0;
  p.s().OnDataSent = [&](TObject*, Word) { ++sent; };
  EXPECT_EQ(p.s().Send(nullptr, 0), 0);
  EXPECT_EQ(p.s().SendStr("abc"), 3);
  EXPECT_EQ(p.s().SendStr("def"), 3);
  EXPECT_EQ(sent, 0);  // never from inside Send
  ASSERT_TRUE(PumpUntil([&] { return sent == 3; }));
  EXPECT_EQ(test::RecvAll(p.peer.fd, 6), "abcdef");
}

TEST(WSocketSend, SendWhenNotConnectedReportsAndCloses) {
  for (bool connecting : {false, true}) {
    test::PlainServer server;
    TWSocket s;
    s.SetMultiThreaded(true);
    int closed = 0;
    s.OnSessionClosed = [&](TObject*, Word) { ++closed; };
    if (connecting) {
      s.SetAddr("127.0.0.1");
      s.SetPort(std::to_string(server.port));
      s.Connect();
      ASSERT_EQ(s.State(), wsConnecting);
    }
    try {
      s.SendStr("x");
      FAIL();
    } catch (const ESocketException& e) {
      EXPECT_EQ(e.Message(), "Error 10057 in function Send\r\nSocket is not connected");
    }
    EXPECT_EQ(s.State(), wsClosed);
    EXPECT_EQ(s.Handle(), INVALID_SOCKET);
    platform::PumpMessages();
    EXPECT_EQ(closed, 0);
  }
}

TEST(WSocketSend, DatagramBlocksAreDatagramsToTheAddress) {
  test::PlainServer udp(false, SOCK_DGRAM);
  TWSocket s;
  s.SetProto("udp");
  s.SetAddr("127.0.0.1");
  s.SetPort(std::to_string(udp.port));
  s.Connect();
  EXPECT_EQ(s.Send(Pattern(2000).data(), 2000), 2000);
  char buf[4000];
  EXPECT_EQ(::recv(udp.sock.fd, buf, sizeof buf, 0), 1514);
  EXPECT_EQ(::recv(udp.sock.fd, buf, sizeof buf, 0), 486);
}

TEST(WSocketSend, UrgentFlagSendsOutOfBand) {
  ConnectedPair p;
  p.s().SetSendFlags(wsSendUrgent);
  EXPECT_EQ(p.s().SendFlags(), wsSendUrgent);
  p.s().SendStr("!");
  char c = 0;
  ssize_t n = -1;
  for (int i = 0; i < 1000 && n != 1; ++i) {
    pollfd pfd{p.peer.fd, POLLPRI, 0};
    ::poll(&pfd, 1, 10);
    n = ::recv(p.peer.fd, &c, 1, MSG_OOB | MSG_DONTWAIT);
  }
  EXPECT_EQ(n, 1);
  EXPECT_EQ(c, '!');
  try {
    p.s().SetSendFlags(static_cast<TSocketSendFlags>(7));
    FAIL();
  } catch (const ESocketException& e) {
    EXPECT_EQ(e.Message(), "Invalid SendFlags");
  }
  EXPECT_EQ(p.s().SendFlags(), wsSendUrgent);
}

TEST(WSocketFlush, MultiThreadedFlushDrainsTheChain) {
  ConnectedPair p;
  int small = 16384;
  ::setsockopt(p.s().Handle(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  const std::string data = Pattern(1 << 20);
  p.s().SendStr(data);
  ASSERT_FALSE(p.s().AllSent());
  std::string received;
  std::thread reader([&] { received = test::RecvAll(p.peer.fd, data.size()); });
  p.s().Flush();
  EXPECT_TRUE(p.s().AllSent());
  reader.join();
  EXPECT_TRUE(received == data);
}

TEST(WSocketFlush, MultiThreadedFlushGivesUpAfterFlushTimeout) {
  ConnectedPair p;
  int small = 16384;
  ::setsockopt(p.s().Handle(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  p.s().SendStr(Pattern(4 << 20));  // the peer never reads
  test::FakeClock clock(/*step=*/30);
  test::ClockOverride use(&clock);
  p.s().Flush();
  EXPECT_FALSE(p.s().AllSent());
  EXPECT_EQ(p.s().State(), wsConnected);
}

TEST(WSocketFlush, SingleThreadedFlushUsesTheWaitControlAndTheMessageRoutine) {
  ConnectedPair p(/*multi_threaded=*/false);
  try {
    p.s().Flush();
    FAIL();
  } catch (const ESocketException& e) {
    EXPECT_EQ(e.Message(), "No wait object assigned");
  }
  test::FakeWait wait;
  p.s().SetWaitCtrl(&wait);
  int rounds = 0;
  SetProcessMessages([&] {
    ++rounds;
    platform::PumpMessages();
    platform::WaitMessages(5);
  });
  int small = 16384;
  ::setsockopt(p.s().Handle(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  const std::string data = Pattern(1 << 20);
  p.s().SendStr(data);
  std::string received;
  std::thread reader([&] { received = test::RecvAll(p.peer.fd, data.size()); });
  p.s().Flush();
  reader.join();
  SetProcessMessages(nullptr);
  EXPECT_TRUE(p.s().AllSent());
  EXPECT_GT(rounds, 0);
  EXPECT_EQ(wait.caption, "60");
  EXPECT_EQ(wait.starts, 1);
  EXPECT_FALSE(wait.running);
  EXPECT_FALSE(wait.visible);
  EXPECT_TRUE(received == data);
}

}  // namespace
}  // namespace dovrik
