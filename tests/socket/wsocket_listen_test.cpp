// Listening, accepting and adopting handles; error reports.
#include <gtest/gtest.h>

#include "platform/socket_errors.h"
#include "socket/wsocket.h"
#include "tests/socket/connected_pair.h"

namespace dovrik {
namespace {

using test::EventLog;
using test::PumpUntil;

using test::ExceptionMessage;

TEST(WSocketListen, StreamListenAcceptAndDup) {
  TWSocket server;
  server.SetMultiThreaded(true);
  EventLog server_log;
  server_log.Attach(server);
  server.SetAddr("127.0.0.1");
  server.SetPort("0");
  ASSERT_EQ(server.Listen(), 0);
  EXPECT_EQ(server_log.lines,
            (std::vector<std::string>{"state closed>bound", "state bound>listening"}));
  const std::string port = server.GetLocalPort();
  ASSERT_NE(port, "error");

  auto accepted = std::make_unique<TWSocket>();
  accepted->SetMultiThreaded(true);
  EventLog accepted_log;
  accepted_log.Attach(*accepted);
  std::string at_server;
  accepted->OnDataAvailable = [&](TObject*, Word) {
    char buf[64];
    int n = accepted->Receive(buf, sizeof buf);
    if (n > 0) at_server.append(buf, static_cast<std::size_t>(n));
  };
  server.OnSessionAvailable = [&](TObject*, Word e) {
    EXPECT_EQ(e, 0);
    accepted->Dup(server.Accept());
  };

  TWSocket client;
  client.SetMultiThreaded(true);
  std::string at_client;
  client.OnDataAvailable = [&](TObject*, Word) {
    char buf[64];
    int n = client.Receive(buf, sizeof buf);
    if (n > 0) at_client.append(buf, static_cast<std::size_t>(n));
  };
  client.SetAddr("127.0.0.1");
  client.SetPort(port);
  client.Connect();
  ASSERT_TRUE(
      PumpUntil([&] { return client.State() == wsConnected && accepted->State() == wsConnected; }));
  EXPECT_EQ(accepted_log.lines, std::vector<std::string>{"state closed>connected"});
  EXPECT_EQ(server.State(), wsListening);
  EXPECT_EQ(accepted->Handle(), server.AcceptedHandle());

  client.SendStr("ping");
  ASSERT_TRUE(PumpUntil([&] { return at_server == "ping"; }));
  accepted->SendStr("pong");
  ASSERT_TRUE(PumpUntil([&] { return at_client == "pong"; }));
  accepted->Close();
  ASSERT_TRUE(PumpUntil([&] { return client.State() == wsClosed; }));
}

TEST(WSocketListen, DatagramListenReportsConnectedBeforeReturning) {
  EventLog log;
  TWSocket s;
  log.Attach(s);
  s.SetProto("udp");
  s.SetAddr("127.0.0.1");
  s.SetPort("0");
  ASSERT_EQ(s.Listen(), 0);
  EXPECT_EQ(log.lines, (std::vector<std::string>{"state closed>bound", "state bound>listening",
                                                 "state listening>connected", "connected 0"}));
  std::string got;
  sockaddr_in from{};
  s.OnDataAvailable = [&](TObject*, Word) {
    char buf[64];
    int len = sizeof from;
    int n = s.ReceiveFrom(buf, sizeof buf, from, len);
    if (n > 0) got.assign(buf, static_cast<std::size_t>(n));
  };
  test::PlainServer sender(false, SOCK_DGRAM);
  sockaddr_in to = test::Loopback(std::stoi(s.GetLocalPort()));
  ::sendto(sender.sock.fd, "dgram", 5, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  ASSERT_TRUE(PumpUntil([&] { return got == "dgram"; }));
  EXPECT_EQ(ntohs(from.sin_port), sender.port);
}

TEST(WSocketListen, PreconditionReports) {
  TWSocket s;
  EXPECT_EQ(ExceptionMessage([&] { s.Listen(); }),
            "Error 10022 in function listen: port not assigned\r\nInvalid argument");
  int errors = 0;
  std::vector<std::string> seen;
  s.OnError = [&](TObject*) {
    ++errors;
    seen.push_back(s.LastErrorMessage());
  };
  EXPECT_EQ(s.Listen(), -1);
  EXPECT_EQ(s.Accept(), INVALID_SOCKET);
  EXPECT_EQ(errors, 2);
  EXPECT_EQ(seen, (std::vector<std::string>{
                      "Error 10022 in function listen: port not assigned\r\nInvalid argument",
                      "Error 10022 in function not a listening socket\r\nInvalid argument"}));
  s.OnError = nullptr;
  EXPECT_EQ(ExceptionMessage([&] { s.Accept(); }),
            "Error 10022 in function not a listening socket\r\nInvalid argument");
  EXPECT_EQ(ExceptionMessage([&] { s.Dup(INVALID_SOCKET); }),
            "Error 10022 in function Dup\r\nInvalid argument");
  EXPECT_EQ(s.State(), wsClosed);
  s.SetPort("0");
  EXPECT_EQ(ExceptionMessage([&] { s.Listen(); }),
            "Error 10022 in function listen: address not assigned\r\nInvalid argument");
}

TEST(WSocketListen, BindFailureReleasesTheHandle) {
  test::PlainServer taken;  // holds the port
  TWSocket s;
  s.SetAddr("127.0.0.1");
  s.SetPort(std::to_string(taken.port));
  const std::string message = ExceptionMessage([&] { s.Listen(); });
  EXPECT_EQ(message, "Error 10048 in function Bind\r\nAddress already in use");
  EXPECT_EQ(s.Handle(), INVALID_SOCKET);
  EXPECT_EQ(s.State(), wsClosed);
}

TEST(SocketErrors, TableTexts) {
  const std::pair<int, const char*> cases[] = {{0, "No Error"},
                                               {10000, "Not a WinSock error"},
                                               {10035, "Operation would block"},
                                               {10061, "Connection refused"},
                                               {11004, "No Data"}};
  for (const auto& [code, text] : cases) EXPECT_EQ(SocketErrorText(code), text);
}

class ReportProbe : public TWSocket {
 public:
  using TWSocket::SocketError;
};

TEST(SocketErrors, ResetOrNotConnectedReportClosesWithoutSessionClosed) {
  test::PlainServer server;
  ReportProbe s;
  s.SetMultiThreaded(true);
  int closed = 0, errors = 0;
  s.OnSessionClosed = [&](TObject*, Word) { ++closed; };
  s.OnError = [&](TObject*) { ++errors; };
  s.SetAddr("127.0.0.1");
  s.SetPort(std::to_string(server.port));
  s.Connect();
  ASSERT_TRUE(PumpUntil([&] { return s.State() == wsConnected; }));
  platform::SetLastSocketError(10054);
  s.SocketError("probe");
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(s.State(), wsClosed);
  EXPECT_EQ(s.Handle(), INVALID_SOCKET);
  platform::PumpMessages();
  EXPECT_EQ(closed, 0);
}

}  // namespace
}  // namespace dovrik
