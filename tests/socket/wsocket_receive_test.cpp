// Receiving, the read loop and lines on real loopback sockets.
#include <gtest/gtest.h>

#include "socket/wsocket.h"
#include "tests/socket/connected_pair.h"

namespace dovrik {
namespace {

using test::ConnectedPair;
using test::PumpUntil;

TEST(WSocketReadLine, LinesDropCarriageReturns) {
  struct Case {
    std::string input, line;
  };
  const Case cases[] = {{"abc\r\n", "abc"}, {"ab\rcd\n", "abcd"}, {"\r\n", ""}};
  for (const Case& c : cases) {
    ConnectedPair p;
    test::SendAll(p.peer.fd, c.input);
    std::string line = "untouched";
    p.s().ReadLine(30, line);
    EXPECT_EQ(line, c.line);
    EXPECT_EQ(p.s().ReadCount(), static_cast<int>(c.input.size()));
  }
}

TEST(WSocketReadLine, LongLineIsCutAt254AndTheRestIsTheNextLine) {
  ConnectedPair p;
  int too_long = 0;
  p.s().OnLineTooLong = [&](TObject*) { ++too_long; };
  test::SendAll(p.peer.fd, std::string(300, 'z'));
  std::string line;
  p.s().ReadLine(30, line);
  EXPECT_EQ(line, std::string(254, 'z'));
  EXPECT_EQ(too_long, 1);
  test::SendAll(p.peer.fd, "\r\n");
  p.s().ReadLine(30, line);
  EXPECT_EQ(line, std::string(46, 'z'));
  EXPECT_EQ(too_long, 1);
}

TEST(WSocketReadLine, PeerCloseEndsTheLineAndClosesTheSocket) {
  ConnectedPair p;
  test::SendAll(p.peer.fd, "xy");
  p.peer.reset();
  std::string line;
  p.s().ReadLine(30, line);
  EXPECT_EQ(line, "xy");
  EXPECT_EQ(p.s().State(), wsClosed);
}

TEST(WSocketReadLine, ClosedSocketGivesAnEmptyLineAtOnce) {
  TWSocket s;
  s.SetMultiThreaded(true);
  std::string line = "old";
  s.ReadLine(30, line);
  EXPECT_EQ(line, "");
}

TEST(WSocketReadLine, TimeOutKeepsTheLineForTheNextCall) {
  ConnectedPair p;
  int data_events = 0;
  p.s().OnDataAvailable = [&](TObject*, Word) { ++data_events; };
  test::SendAll(p.peer.fd, "ab");
  std::string line;
  {
    test::FakeClock clock(/*step=*/10);
    test::ClockOverride use(&clock);
    p.s().ReadLine(30, line);
  }
  EXPECT_EQ(line, "ab");
  test::SendAll(p.peer.fd, "cd\r\n");
  p.s().ReadLine(30, line);
  EXPECT_EQ(line, "abcd");
  EXPECT_EQ(data_events, 0);
}

TEST(WSocketReadLine, BytesBehindTheLineGoToDataAvailable) {
  ConnectedPair p;
  std::string rest;
  p.s().OnDataAvailable = [&](TObject*, Word) {
    char buf[64];
    int n = p.s().Receive(buf, sizeof buf);
    if (n > 0) rest.append(buf, static_cast<std::size_t>(n));
  };
  test::SendAll(p.peer.fd, "one\r\ntwo\r\n");
  std::string line;
  p.s().ReadLine(30, line);
  EXPECT_EQ(line, "one");
  ASSERT_TRUE(PumpUntil([&] { return rest == "two\r\n"; }));
}

TEST(WSocketReadLine, SingleThreadedNeedsAWaitControl) {
  ConnectedPair p(/*multi_threaded=*/false);
  std::string line = "kept";
  try {
    p.s().ReadLine(5, line);
    FAIL();
  } catch (const ESocketException& e) {
    EXPECT_EQ(e.Message(), "No wait object assigned");
  }
  EXPECT_EQ(line, "kept");
  test::FakeWait wait;
  p.s().SetWaitCtrl(&wait);
  test::SendAll(p.peer.fd, "hi\n");
  p.s().ReadLine(500, line);  // the line completes long before the countdown
  EXPECT_EQ(line, "hi");
  EXPECT_GE(wait.stops, 1);
}

TEST(WSocketReceive, WithoutHandlerBytesStayQueued) {
  ConnectedPair p;
  test::SendAll(p.peer.fd, "12345");
  ASSERT_TRUE(PumpUntil([&] { return p.s().RcvdCount() == 5; }));
  platform::PumpMessages();
  EXPECT_EQ(p.s().RcvdCount(), 5);
  char buf[16];
  EXPECT_EQ(p.s().Receive(buf, sizeof buf), 5);
  EXPECT_EQ(p.s().ReadCount(), 5);
  EXPECT_EQ(p.s().Receive(buf, sizeof buf), -1);
  EXPECT_EQ(p.s().LastError(), 10035);
}

TEST(WSocketReceive, HandlerIsCalledWhileBytesWaitAndItsExceptionStaysInTheLoop) {
  ConnectedPair p;
  int calls = 0;
  std::string got;
  p.s().OnDataAvailable = [&](TObject*, Word) {
    ++calls;
    char c;
    if (p.s().Receive(&c, 1) == 1) got += c;  // one byte per call
    if (got == "abc") throw std::runtime_error("handler failed");
  };
  test::SendAll(p.peer.fd, "abcdef");
  ASSERT_TRUE(PumpUntil([&] { return !p.s().LastReadLoopError().empty(); }));
  EXPECT_EQ(p.s().LastReadLoopError(), "handler failed");
  // The notification is re-armed by the receives, so the rest arrives later.
  ASSERT_TRUE(PumpUntil([&] { return got == "abcdef"; }));
}

TEST(WSocketReceive, WaitForCloseReadsUntilThePeerIsGone) {
  ConnectedPair p;
  std::string got;
  p.s().OnDataAvailable = [&](TObject*, Word) {
    char buf[64];
    int n = p.s().Receive(buf, sizeof buf);
    if (n > 0) got.append(buf, static_cast<std::size_t>(n));
  };
  test::SendAll(p.peer.fd, "last words");
  p.peer.reset();
  p.s().WaitForClose();
  EXPECT_EQ(p.s().State(), wsClosed);
  EXPECT_EQ(got, "last words");
}

TEST(WSocketReceive, WaitForCloseEndsWhenNobodyTakesTheBytes) {
  ConnectedPair p;  // no OnDataAvailable handler: the bytes can only stay queued
  test::SendAll(p.peer.fd, "unread");
  ASSERT_TRUE(PumpUntil([&] { return p.s().RcvdCount() == 6; }));
  // A bound on the loop turns a hang into a failure.
  int turns = 0;
  SetProcessMessages([&] {
    if (++turns > 10000) throw std::runtime_error("WaitForClose does not end");
    platform::PumpMessages();
  });
  EXPECT_NO_THROW(p.s().WaitForClose());
  SetProcessMessages(nullptr);
  EXPECT_EQ(p.s().RcvdCount(), 6);
}

}  // namespace
}  // namespace dovrik
