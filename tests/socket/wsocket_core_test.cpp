// State machine, events, connecting, closing, pausing and waiting on real loopback sockets.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "socket/wsocket.h"
#include "tests/socket/socket_test_util.h"

namespace dovrik {
namespace {

using test::EventLog;
using test::PlainServer;
using test::PumpUntil;

void Target(TCustomWSocket& s, int port, const std::string& proto = "tcp") {
  s.SetProto(proto);
  s.SetAddr("127.0.0.1");
  s.SetPort(std::to_string(port));
}

TEST(WSocketConnect, RefusedConnectionRunsTheDocumentedSequence) {
  PlainServer refusing(/*listening=*/false);
  TWSocket s;
  s.SetMultiThreaded(true);
  EventLog log;
  log.Attach(s);
  Target(s, refusing.port);
  s.Connect();
  ASSERT_TRUE(PumpUntil([&] { return s.State() == wsClosed; }));
  const std::vector<std::string> expected = {
      "state closed>opened", "state opened>connecting", "state connecting>connected",
      "connected 10061",     "state connected>closed",  "closed 0"};
  EXPECT_EQ(log.lines, expected);
  // A close resets the assigned flags; the texts stay.
  EXPECT_EQ(s.Proto(), "tcp");
  EXPECT_EQ(s.Addr(), "127.0.0.1");
  EXPECT_EQ(s.Handle(), INVALID_SOCKET);
  EXPECT_THROW(s.Connect(), ESocketException);  // no port any more
}

TEST(WSocketConnect, SuccessfulConnectionAndLocalClose) {
  PlainServer server;
  TWSocket s;
  s.SetMultiThreaded(true);
  EventLog log;
  log.Attach(s);
  Target(s, server.port);
  s.Connect();
  EXPECT_EQ(s.State(), wsConnecting);
  ASSERT_TRUE(PumpUntil([&] { return log.Count("connected 0") == 1; }));
  EXPECT_EQ(s.State(), wsConnected);
  test::Fd peer = server.Accept();
  EXPECT_EQ(s.GetPeerAddr(), "127.0.0.1");
  EXPECT_NE(s.GetLocalPort(), "error");
  s.Close();
  const std::vector<std::string> expected = {
      "state closed>opened", "state opened>connecting", "state connecting>connected",
      "connected 0",         "state connected>closed",  "closed 0"};
  EXPECT_EQ(log.lines, expected);
  EXPECT_EQ(s.GetLocalPort(), "error");
  // The socket can be used again once Addr and Port are set again.
  Target(s, server.port);
  s.Connect();
  ASSERT_TRUE(PumpUntil([&] { return log.Count("connected 0") == 2; }));
}

TEST(WSocketConnect, PreconditionMessagesComeInOrder) {
  struct Case {
    bool port, addr, proto;
    const char* message;
  };
  const Case cases[] = {
      {false, false, true, "Connect: No Port Specified"},
      {false, true, true, "Connect: No Port Specified"},
      {true, false, true, "Connect: No IP Address Specified"},
      {true, true, false, "Connect: No Protocol Specified"},
  };
  for (const Case& c : cases) {
    TWSocket s;
    if (!c.proto) {
      EXPECT_THROW(s.SetProto("no-such-protocol-xyz"), ESocketException);
    }
    if (c.addr) s.SetAddr("127.0.0.1");
    if (c.port) s.SetPort("1");
    try {
      s.Connect();
      ADD_FAILURE() << "no exception for " << c.message;
    } catch (const ESocketException& e) {
      EXPECT_EQ(e.Message(), c.message);
    }
    EXPECT_EQ(s.State(), wsClosed);
  }
}

TEST(WSocketConnect, UnknownProtocolMakesProtoUnassigned) {
  TWSocket s;
  try {
    s.SetProto("no-such-protocol-xyz");
    FAIL();
  } catch (const ESocketException& e) {
    EXPECT_EQ(e.Message(),
              "Error 11004 in function SetProto: Cannot convert protocol 'no-such-protocol-xyz'"
              "\r\nNo Data");
  }
  EXPECT_EQ(s.Proto(), "no-such-protocol-xyz");
}

TEST(WSocketConnect, ConnectWhileConnectedIsRefusedAndKeepsTheConnection) {
  PlainServer server;
  TWSocket s;
  s.SetMultiThreaded(true);
  Target(s, server.port);
  s.Connect();
  ASSERT_TRUE(PumpUntil([&] { return s.State() == wsConnected; }));
  const TSocket handle = s.Handle();
  try {
    s.Connect();
    FAIL();
  } catch (const ESocketException& e) {
    EXPECT_EQ(e.Message(), "Connect: Socket already in use");
  }
  EXPECT_EQ(s.State(), wsConnected);
  EXPECT_EQ(s.Handle(), handle);
}

TEST(WSocketConnect, OnErrorReplacesTheExceptionOnce) {
  TWSocket raising;
  const std::string message = test::ExceptionMessage([&] { raising.Connect(); });
  TWSocket s;
  int errors = 0;
  std::string seen;
  s.OnError = [&](TObject* sender) {
    EXPECT_EQ(sender, &s);
    ++errors;
    seen = s.LastErrorMessage();  // the text the exception would have carried
  };
  EXPECT_NO_THROW(s.Connect());
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(seen, message);
  EXPECT_EQ(s.State(), wsClosed);
}

TEST(WSocketConnect, DatagramConnectReportsBeforeReturning) {
  PlainServer udp(false, SOCK_DGRAM);
  EventLog log;
  TWSocket s;
  log.Attach(s);
  Target(s, udp.port, "udp");
  EXPECT_EQ(s.SocketType(), SOCK_DGRAM);
  s.Connect();
  const std::vector<std::string> expected = {"state closed>opened", "state opened>connected",
                                             "connected 0"};
  EXPECT_EQ(log.lines, expected);
  EXPECT_GT(s.LocalPortNum(), 0);
}

TEST(WSocketClose, AbortWhileConnectingDropsTheAttempt) {
  PlainServer server;
  EventLog log;
  TWSocket s;
  s.SetMultiThreaded(true);
  log.Attach(s);
  Target(s, server.port);
  s.Connect();
  s.Abort();
  // The connect outcome of the old handle must not reach the socket any more; a new
  // connection's report proves the queue has moved on.
  Target(s, server.port);
  s.Connect();
  ASSERT_TRUE(PumpUntil([&] { return s.State() == wsConnected; }));
  const std::vector<std::string> expected = {
      "state closed>opened",        "state opened>connecting",
      "state connecting>closed",    "closed 0",
      "state closed>opened",        "state opened>connecting",
      "state connecting>connected", "connected 0"};
  EXPECT_EQ(log.lines, expected);
}

TEST(WSocketClose, PeerCloseThenLocalCloseFiresSessionClosedOnce) {
  PlainServer server;
  TWSocket s;
  s.SetMultiThreaded(true);
  EventLog log;
  log.Attach(s);
  std::string got;
  s.OnDataAvailable = [&](TObject*, Word) {
    char buf[64];
    int n = s.Receive(buf, sizeof buf);
    if (n > 0) got.append(buf, static_cast<std::size_t>(n));
  };
  // The local close runs inside OnSessionClosed, the way an application reacts to it.
  s.OnSessionClosed = [&](TObject*, Word e) {
    log.lines.push_back("closed " + std::to_string(e));
    s.Close();
  };
  Target(s, server.port);
  s.Connect();
  ASSERT_TRUE(PumpUntil([&] { return s.State() == wsConnected; }));
  {
    test::Fd peer = server.Accept();
    test::SendAll(peer.fd, "bye");
  }
  ASSERT_TRUE(PumpUntil([&] { return s.State() == wsClosed; }));
  s.Close();
  EXPECT_EQ(log.Count("closed 0"), 1);
  EXPECT_EQ(got, "bye");  // what was waiting is delivered before the close
}

// How a handler reacts to the peer's end: each way fires OnSessionClosed once, and a handler
// may free the socket (the notification must not touch it afterwards).
TEST(WSocketClose, HandlersReactingToThePeersEndSeeOneSessionClosed) {
  enum Reaction { kCloseOnEndOfStream, kFreeOnEndOfStream, kFreeOnSessionClosed };
  for (Reaction r : {kCloseOnEndOfStream, kFreeOnEndOfStream, kFreeOnSessionClosed}) {
    SCOPED_TRACE(r);
    PlainServer server;
    auto s = std::make_unique<TWSocket>();
    s->SetMultiThreaded(true);
    EventLog log;
    log.Attach(*s);
    TWSocket* raw = s.get();
    raw->OnDataAvailable = [&, raw](TObject*, Word) {
      char buf[64];
      if (raw->Receive(buf, sizeof buf) != 0) return;
      if (r == kCloseOnEndOfStream) raw->Close();
      if (r == kFreeOnEndOfStream) s.reset();
    };
    if (r == kFreeOnSessionClosed) {
      auto out = log.shared;
      raw->OnSessionClosed = [out, &s](TObject*, Word e) {
        out->push_back("closed " + std::to_string(e));
        s.reset();
      };
    }
    Target(*raw, server.port);
    raw->Connect();
    ASSERT_TRUE(PumpUntil([&] { return raw->State() == wsConnected; }));
    server.Accept().reset();
    ASSERT_TRUE(PumpUntil([&] { return !s || s->State() == wsClosed; }));
    platform::PumpMessages();
    EXPECT_EQ(log.Count("closed 0"), 1);
  }
}

TEST(WSocketClose, ResetByPeerReportsItsErrorWord) {
  PlainServer server;
  TWSocket s;
  s.SetMultiThreaded(true);
  EventLog log;
  log.Attach(s);
  Target(s, server.port);
  s.Connect();
  ASSERT_TRUE(PumpUntil([&] { return s.State() == wsConnected; }));
  {
    test::Fd peer = server.Accept();
    linger l{1, 0};
    ::setsockopt(peer.fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  }
  ASSERT_TRUE(PumpUntil([&] { return s.State() == wsClosed; }));
  EXPECT_EQ(log.Count("closed 10054"), 1);
  EXPECT_EQ(log.Count("closed 0"), 0);
}

TEST(WSocketClose, OwnerDestroyingSuppressesSessionClosed) {
  PlainServer server;
  int closed_owned = 0, closed_free = 0;
  {
    auto owner = std::make_unique<TComponent>(nullptr);
    auto* owned = new TWSocket(owner.get());  // freed by its owner
    auto free_socket = std::make_unique<TWSocket>();
    for (TWSocket* s : {owned, free_socket.get()}) {
      s->SetMultiThreaded(true);
      Target(*s, server.port);
      s->Connect();
    }
    owned->OnSessionClosed = [&](TObject*, Word) { ++closed_owned; };
    free_socket->OnSessionClosed = [&](TObject*, Word) { ++closed_free; };
    ASSERT_TRUE(PumpUntil(
        [&] { return owned->State() == wsConnected && free_socket->State() == wsConnected; }));
    owner.reset();
    free_socket.reset();
  }
  EXPECT_EQ(closed_owned, 0);
  EXPECT_EQ(closed_free, 1);
}

TEST(WSocketNotify, StaleNotificationForAnotherHandleIsIgnored) {
  PlainServer server;
  TWSocket s;
  s.SetMultiThreaded(true);
  int sent = 0;
  s.OnDataSent = [&](TObject*, Word) { ++sent; };
  Target(s, server.port);
  s.Connect();
  ASSERT_TRUE(PumpUntil([&] { return s.State() == wsConnected && sent == 1; }));
  // A write notification for a handle the socket no longer holds, and one posted for this
  // descriptor under an older handle serial: both are dropped.
  platform::PostMessage(s.WindowHandle(), kSocketEventMessage, static_cast<std::uintptr_t>(9999),
                        platform::kFdWrite | platform::kFdClose);
  platform::PostMessage(
      s.WindowHandle(), kSocketEventMessage, static_cast<std::uintptr_t>(s.Handle()),
      static_cast<std::intptr_t>(platform::kFdWrite | (std::uint64_t{0xFFF0} << 32)));
  platform::PostMessage(s.WindowHandle(), kSocketEventMessage,
                        static_cast<std::uintptr_t>(s.Handle()), platform::kFdWrite);
  ASSERT_TRUE(PumpUntil([&] { return sent == 2; }));
  platform::PumpMessages();
  EXPECT_EQ(sent, 2);
  EXPECT_EQ(s.State(), wsConnected);
}

TEST(WSocketNotify, HandlerExceptionLeavesThePumpAndTheSocketGoesOn) {
  PlainServer server;
  TWSocket s;
  s.SetMultiThreaded(true);
  std::string got;
  s.OnSessionConnected = [&](TObject*, Word) { throw ESocketException("dialogue failed"); };
  s.OnDataAvailable = [&](TObject*, Word) {
    char buf[16];
    int n = s.Receive(buf, sizeof buf);
    if (n > 0) got.append(buf, static_cast<std::size_t>(n));
  };
  Target(s, server.port);
  s.Connect();
  std::string thrown;
  for (int i = 0; i < 100 && thrown.empty(); ++i) {
    try {
      platform::PumpMessages();
      platform::WaitMessages(50);
    } catch (const ESocketException& e) {
      thrown = e.what();
    }
  }
  EXPECT_EQ(thrown, "dialogue failed");
  EXPECT_EQ(s.State(), wsConnected);
  test::Fd peer = server.Accept();
  test::SendAll(peer.fd, "ok");
  ASSERT_TRUE(PumpUntil([&] { return got == "ok"; }));
}

TEST(WSocketNotify, PauseIgnoresNotificationsUntilResume) {
  PlainServer server;
  TWSocket s;
  s.SetMultiThreaded(true);
  std::string got;
  s.OnDataAvailable = [&](TObject*, Word) {
    char buf[64];
    int n = s.Receive(buf, sizeof buf);
    if (n > 0) got.append(buf, static_cast<std::size_t>(n));
  };
  Target(s, server.port);
  s.Connect();
  ASSERT_TRUE(PumpUntil([&] { return s.State() == wsConnected; }));
  test::Fd peer = server.Accept();
  s.Pause();
  EXPECT_TRUE(s.Paused());
  test::SendAll(peer.fd, "one");
  ASSERT_TRUE(PumpUntil([&] { return s.RcvdCount() == 3; }));
  // Even a notification posted for the handle is dropped while paused.
  platform::PostMessage(s.WindowHandle(), kSocketEventMessage,
                        static_cast<std::uintptr_t>(s.Handle()), platform::kFdRead);
  platform::PumpMessages();
  EXPECT_EQ(got, "");
  s.Resume();
  ASSERT_TRUE(PumpUntil([&] { return got == "one"; }));
}

TEST(WSocketLibrary, CountAndStartUpFollowTheLiveSockets) {
  EXPECT_EQ(SocketCount(), 0);
  {
    TWSocket a;
    TWSocket b;
    EXPECT_EQ(SocketCount(), 2);
    EXPECT_TRUE(WinsockStarted());
  }
  EXPECT_EQ(SocketCount(), 0);
  EXPECT_FALSE(WinsockStarted());
  TWSocket c;
  EXPECT_TRUE(WinsockStarted());
}

TEST(WSocketLibrary, SocketsOnSeveralThreadsKeepTheCountRight) {
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      while (!go.load()) std::this_thread::yield();
      for (int i = 0; i < 50; ++i) {
        TWSocket s;
        s.SetAddr("127.0.0.1");
        EXPECT_TRUE(WinsockStarted());
      }
    });
  go.store(true);
  for (auto& t : threads) t.join();
  EXPECT_EQ(SocketCount(), 0);
  EXPECT_FALSE(WinsockStarted());
}

TEST(WSocketWait, MultiThreadedWaitPumpsUntilTheState) {
  PlainServer server;
  TWSocket s;
  s.SetMultiThreaded(true);
  Target(s, server.port);
  s.Connect();
  EXPECT_TRUE(s.Wait(30, wsConnected));
  EXPECT_TRUE(s.Wait(30, wsConnected));  // already there: at once, True
}

TEST(WSocketWait, MultiThreadedWaitTimesOutOnTheClock) {
  test::FakeClock clock(/*step=*/20);
  test::ClockOverride use(&clock);
  TWSocket s;
  s.SetMultiThreaded(true);
  EXPECT_FALSE(s.Wait(60, wsConnected));
}

TEST(WSocketWait, WaitWithoutControlReportsNoData) {
  TWSocket s;
  try {
    s.Wait(5, wsConnected);
    FAIL();
  } catch (const ESocketException& e) {
    EXPECT_EQ(e.Message(), "Error 11004 in function TWSocket.Wait\r\nNo Data");
  }
}

TEST(WSocketWait, WaitControlIsStoppedWhenTheStateArrivesOrTheConnectionFails) {
  PlainServer server;
  PlainServer refusing(false);
  for (int port : {server.port, refusing.port}) {
    test::FakeWait wait;
    TWSocket s;
    s.SetWaitCtrl(&wait);
    Target(s, port);
    s.Connect();
    const bool reached = s.Wait(500, wsConnected);
    EXPECT_EQ(reached, port == server.port);
    EXPECT_EQ(wait.runs, 1);
    EXPECT_GE(wait.stops, 1);  // ended by the socket, not by the countdown
    EXPECT_FALSE(wait.visible);
    EXPECT_EQ(wait.caption, "500");
  }
}

TEST(WSocketWait, DestroyedWaitControlIsForgotten) {
  TWSocket s;
  {
    test::FakeWait wait;
    s.SetWaitCtrl(&wait);
    EXPECT_EQ(s.WaitCtrl(), &wait);
  }
  EXPECT_EQ(s.WaitCtrl(), nullptr);
}

class FiringProbe : public TWSocket {
 public:
  using TWSocket::TWSocket;
  std::vector<std::string> fired;
  void DoSessionConnected(Word e) override {
    fired.push_back("connected " + std::to_string(e));
    TWSocket::DoSessionConnected(e);
  }
  void DoChangeState(TSocketState o, TSocketState n) override {
    fired.push_back(std::string(test::StateName(o)) + ">" + test::StateName(n));
  }
};

TEST(WSocketEvents, SubclassOverridesTheFiring) {
  PlainServer udp(false, SOCK_DGRAM);
  FiringProbe s;
  int handler = 0;
  s.OnSessionConnected = [&](TObject*, Word) { ++handler; };
  Target(s, udp.port, "17");
  s.Connect();
  const std::vector<std::string> expected = {"closed>opened", "opened>connected", "connected 0"};
  EXPECT_EQ(s.fired, expected);
  EXPECT_EQ(handler, 1);
}

}  // namespace
}  // namespace dovrik
