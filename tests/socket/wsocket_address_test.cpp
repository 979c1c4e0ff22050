// Addr, Port and Proto conversions, name look-ups and their error texts.
#include <gtest/gtest.h>

#include "socket/wsocket.h"
#include "tests/socket/connected_pair.h"

namespace dovrik {
namespace {

using test::PumpUntil;

using test::ExceptionMessage;

TEST(ParseNumber, DigitsAfterBlanks) {
  const std::pair<const char*, int> cases[] = {{"", 0},           {"  42", 42},    {"42abc", 42},
                                               {"-5", 0},         {"\t5", 0},      {"abc", 0},
                                               {"4294967297", 1}, {"65536", 65536}};
  for (const auto& [text, value] : cases) EXPECT_EQ(ParseNumber(text), value) << text;
}

TEST(WSocketAddr, DottedNameAndBroadcastAddresses) {
  TWSocket s;
  s.SetAddr(" 127.0.0.1 ");
  EXPECT_EQ(s.Addr(), " 127.0.0.1 ");
  EXPECT_EQ(s.SockAddr().sin_addr.s_addr, htonl(INADDR_LOOPBACK));
  s.SetAddr("localhost");
  EXPECT_EQ(s.SockAddr().sin_addr.s_addr, htonl(INADDR_LOOPBACK));
  s.SetAddr("255.255.255.255");
  EXPECT_EQ(s.SockAddr().sin_addr.s_addr, INADDR_BROADCAST);
  EXPECT_EQ(ResolveHostAddr("127.1"), htonl(INADDR_LOOPBACK));
}

TEST(WSocketAddr, BroadcastDatagramSocketSwitchesBroadcastOn) {
  TWSocket s;
  s.SetProto("udp");
  s.SetAddr("255.255.255.255");
  s.SetPort("9");
  s.Connect();  // nothing is sent
  int on = 0;
  socklen_t len = sizeof on;
  ::getsockopt(s.Handle(), SOL_SOCKET, SO_BROADCAST, &on, &len);
  EXPECT_NE(on, 0);
}

TEST(WSocketAddr, UnresolvableHostAlwaysRaisesWithTheTextAsGiven) {
  TWSocket s;
  int errors = 0;
  s.OnError = [&](TObject*) { ++errors; };  // not consulted for this report
  EXPECT_EQ(ExceptionMessage([&] { s.SetAddr("   "); }),
            "SetAddr: Cannot convert host address '   '");
  EXPECT_EQ(errors, 0);
  EXPECT_EQ(s.Addr(), "   ");
  s.OnError = nullptr;
  s.SetPort("1");
  EXPECT_EQ(ExceptionMessage([&] { s.Connect(); }), "Connect: No IP Address Specified");
}

TEST(WSocketPort, NumbersAndServiceNames) {
  TWSocket s;
  s.SetPort("110");
  const int by_number = s.PortNum();
  s.SetPort("pop3");
  EXPECT_EQ(s.PortNum(), by_number);
  EXPECT_EQ(by_number, 110);
  s.SetPort(" 70000");
  EXPECT_EQ(s.PortNum(), 70000 % 65536);
  EXPECT_EQ(ntohs(s.SockAddr().sin_port), 70000 % 65536);
}

TEST(WSocketPort, UnknownAndEmptyServiceTexts) {
  const std::pair<const char*, const char*> cases[] = {
      {"no-such-service",
       "Error 11004 in function SetPort: Cannot convert port "
       "'no-such-service'\r\nNo Data"},
      {"  ", "Error 11004 in function SetPort: Cannot convert port ''\r\nNo Data"},
      {"", "Error 11004 in function SetPort: Cannot convert port ''\r\nNo Data"}};
  for (const auto& [text, message] : cases) {
    TWSocket s;
    EXPECT_EQ(ExceptionMessage([&] { s.SetPort(text); }), message);
    s.SetAddr("127.0.0.1");
    EXPECT_EQ(ExceptionMessage([&] { s.Connect(); }), "Connect: No Port Specified");
  }
}

TEST(WSocketProto, NamesNumbersAndTheSocketType) {
  struct Case {
    const char* text;
    int number, type;
  };
  const Case cases[] = {{"udp", 17, SOCK_DGRAM},
                        {"17", 17, SOCK_DGRAM},
                        {"tcp", 6, SOCK_STREAM},
                        {" 6 ", 6, SOCK_STREAM},
                        {"1", 1, SOCK_STREAM}};
  for (const Case& c : cases) {
    TWSocket s;
    s.SetProto("udp");
    s.SetProto(c.text);
    EXPECT_EQ(s.ProtoNum(), c.number) << c.text;
    EXPECT_EQ(s.SocketType(), c.type) << c.text;
  }
  TWSocket s;
  s.SetProto("udp");
  s.SetProto("not found");  // leaves the protocol as it was
  EXPECT_EQ(s.ProtoNum(), 17);
  EXPECT_EQ(s.Proto(), "not found");
  EXPECT_EQ(ExceptionMessage([&] { s.SetProto(" "); }),
            "Error 11004 in function SetProto: Cannot convert protocol ''\r\nNo Data");
}

TEST(WSocketSetters, RefusedWhileOpenButTheTextIsKept) {
  test::ConnectedPair p;
  const std::string port = p.s().Port();
  p.s().SetPort(port);  // same text while assigned: nothing to convert, nothing refused
  EXPECT_EQ(ExceptionMessage([&] { p.s().SetPort("25"); }), "Cannot change Port if not closed");
  EXPECT_EQ(p.s().Port(), "25");
  EXPECT_EQ(ExceptionMessage([&] { p.s().SetAddr("127.0.0.2"); }),
            "Cannot change Addr if not closed");
  EXPECT_EQ(ExceptionMessage([&] { p.s().SetProto("udp"); }), "Cannot change Proto if not closed");
  EXPECT_EQ(p.s().State(), wsConnected);
  EXPECT_EQ(p.s().ProtoNum(), 6);
}

struct LookupLog {
  std::vector<Word> done;
  void Attach(TWSocket& s) {
    s.OnDnsLookupDone = [this](TObject*, Word e) { done.push_back(e); };
  }
};

TEST(WSocketDns, DottedAddressIsReportedBeforeReturning) {
  TWSocket s;
  LookupLog log;
  log.Attach(s);
  s.DnsLookup("127.1");
  EXPECT_EQ(log.done, std::vector<Word>{0});
  EXPECT_EQ(s.DnsResult(), "127.0.0.1");
  EXPECT_TRUE(s.DnsResultList().empty());
}

TEST(WSocketDns, NameIsLookedUpAsynchronously) {
  TWSocket s;
  LookupLog log;
  log.Attach(s);
  s.DnsLookup("localhost");
  EXPECT_TRUE(log.done.empty());
  ASSERT_TRUE(PumpUntil([&] { return !log.done.empty(); }));
  EXPECT_EQ(log.done, std::vector<Word>{0});
  EXPECT_EQ(s.DnsResult(), "127.0.0.1");
  ASSERT_FALSE(s.DnsResultList().empty());
  EXPECT_EQ(s.DnsResultList().front(), "127.0.0.1");
}

TEST(WSocketDns, SupersededAndCancelledLookupsAreDropped) {
  TWSocket s;
  LookupLog log;
  log.Attach(s);
  s.DnsLookup("localhost");
  s.DnsLookup("localhost");  // replaces the first
  ASSERT_TRUE(PumpUntil([&] { return !log.done.empty(); }));
  s.DnsLookup("localhost");
  s.CancelDnsLookup();
  EXPECT_EQ(log.done, (std::vector<Word>{0, 10004}));
  s.CancelDnsLookup();  // nothing pending: nothing happens
  s.DnsLookup("localhost");
  ASSERT_TRUE(PumpUntil([&] { return log.done.size() >= 3; }));
  platform::PumpMessages();
  EXPECT_EQ(log.done, (std::vector<Word>{0, 10004, 0}));
}

TEST(WSocketDns, EmptyHostName) {
  TWSocket s;
  LookupLog log;
  log.Attach(s);
  EXPECT_EQ(ExceptionMessage([&] { s.DnsLookup(""); }), "DNS lookup: invalid host name.");
  EXPECT_TRUE(log.done.empty());
  s.OnError = [](TObject*) {};
  s.DnsLookup("");
  EXPECT_EQ(log.done, std::vector<Word>{10022});
}

}  // namespace
}  // namespace dovrik
