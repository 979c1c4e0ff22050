// The engine's sessions against the test mail server: the exact wire of each action, every result
// code at its place, the password loop, busy actions, concurrency and destruction.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <climits>

#include "engine/message_parser.h"
#include "platform/thread.h"
#include "tests/engine/engine_fixture.h"

namespace dovrik::testing {
namespace {

using tools::MailBehaviour;
using tools::MailCut;

// A loopback port on which nothing listens.
std::string ClosedPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  close(fd);
  return std::to_string(ntohs(addr.sin_port));
}

std::string Retr(const std::string& stuffed) {
  return "+OK " + std::to_string(stuffed.size()) + " octets\r\n";
}

TEST_F(EngineTest, CheckWire) {
  auto& server = Pop3();
  GivePassword({"secret"});
  ASSERT_TRUE(engine_->Check());
  ASSERT_TRUE(AwaitDone());
  EXPECT_EQ(started_, std::vector<tQrAction>{acCheck});
  EXPECT_EQ(done_, std::vector<tQrAction>{acCheck});
  EXPECT_EQ(engine_->ErrorCode(acCheck), 0);
  EXPECT_EQ(engine_->MessageCount(), 2);
  EXPECT_EQ(engine_->MailboxSize(), static_cast<int>(Mailbox()[0].size() + Mailbox()[1].size()));
  EXPECT_EQ(pass_calls_, 1u);
  ASSERT_TRUE(server.WaitClosed(1, std::chrono::seconds(5)));
  EXPECT_EQ(server.Received(0), "USER user\r\nLIST\r\nPASS secret\r\nSTAT\r\nQUIT\r\n");
}

TEST_F(EngineTest, ListAfterUserAsksNoPassword) {
  MailBehaviour b;
  b.list_after_user = true;
  auto& server = Pop3(b);
  GivePassword({"secret"});
  ASSERT_TRUE(engine_->Check());
  ASSERT_TRUE(AwaitDone());
  EXPECT_EQ(engine_->ErrorCode(acCheck), 0);
  EXPECT_EQ(engine_->MessageCount(), 2);
  EXPECT_EQ(pass_calls_, 0u);
  ASSERT_TRUE(server.WaitClosed(1, std::chrono::seconds(5)));
  EXPECT_EQ(server.Received(0), "USER user\r\nLIST\r\nSTAT\r\nQUIT\r\n");
}

TEST_F(EngineTest, PasswordRefusedTwiceThenAccepted) {
  MailBehaviour b;
  b.refuse_pass_count = 2;
  auto& server = Pop3(b);
  GivePassword({"secret", " secret", "secret"});
  ASSERT_TRUE(engine_->Check());
  ASSERT_TRUE(AwaitDone());
  EXPECT_EQ(pass_calls_, 3u);
  EXPECT_EQ(engine_->ErrorCode(acCheck), 0);
  EXPECT_EQ(engine_->ErrorText(acCheck), "");
  EXPECT_EQ(engine_->MessageCount(), 2);
  ASSERT_TRUE(server.WaitClosed(1, std::chrono::seconds(5)));
  // The password goes out exactly as the handler left it, and every new try starts with USER.
  EXPECT_EQ(server.Received(0),
            "USER user\r\nLIST\r\nPASS secret\r\nUSER user\r\nPASS  secret\r\nUSER user\r\n"
            "PASS secret\r\nSTAT\r\nQUIT\r\n");
}

// A session works from what the engine held when its action started: a setting changed while it
// runs (here inside the password prompt, between its two USER lines) reaches only the next one.
TEST_F(EngineTest, ASessionKeepsTheSettingsItStartedWith) {
  MailBehaviour b;
  b.refuse_pass_count = 1;
  auto& server = Pop3(b);
  engine_->OnGetPass = [this](TQuorrel*, std::string& aPass) {
    engine_->SetUserName("other");
    aPass = "secret";
  };
  ASSERT_TRUE(engine_->Check());
  ASSERT_TRUE(AwaitDone());
  EXPECT_EQ(engine_->ErrorCode(acCheck), 0) << engine_->ErrorText(acCheck);
  ASSERT_TRUE(server.WaitClosed(1, std::chrono::seconds(5)));
  EXPECT_EQ(server.Received(0),
            "USER user\r\nLIST\r\nPASS secret\r\nUSER user\r\nPASS secret\r\nSTAT\r\nQUIT\r\n");
  ASSERT_TRUE(engine_->Check());
  ASSERT_TRUE(AwaitDone(2));
  ASSERT_TRUE(server.WaitClosed(2, std::chrono::seconds(5)));
  EXPECT_TRUE(server.Received(1).starts_with("USER other\r\n")) << server.Received(1);
}

TEST_F(EngineTest, NoUsablePasswordFailsLogin) {
  struct Case {
    std::vector<std::string> answers;
    bool assigned;
    std::string wire;
    std::string text;
  };
  const std::vector<Case> cases = {
      {{""}, true, "USER user\r\nLIST\r\nQUIT\r\n", "-ERR not authorised\r\n"},
      {{" \t"}, true, "USER user\r\nLIST\r\nQUIT\r\n", "-ERR not authorised\r\n"},
      {{}, false, "USER user\r\nLIST\r\nQUIT\r\n", "-ERR not authorised\r\n"},
      {{"wrong", ""},
       true,
       "USER user\r\nLIST\r\nPASS wrong\r\nQUIT\r\n",
       "-ERR invalid password\r\n"},
  };
  for (const auto& c : cases) {
    auto& server = Pop3();
    done_.clear();
    pass_calls_ = 0;
    if (c.assigned)
      GivePassword(c.answers);
    else
      engine_->OnGetPass = nullptr;
    ASSERT_TRUE(engine_->Check());
    ASSERT_TRUE(AwaitDone());
    EXPECT_EQ(engine_->ErrorCode(acCheck), kQrLoginFailed);
    EXPECT_EQ(engine_->ErrorText(acCheck), c.text);
    EXPECT_EQ(engine_->MessageCount(), 0);
    EXPECT_EQ(pass_calls_, c.answers.size());
    ASSERT_TRUE(server.WaitClosed(1, std::chrono::seconds(5)));
    EXPECT_EQ(server.Received(0), c.wire);
  }
}

TEST_F(EngineTest, RefusedCommandsRecordTheirCodes) {
  struct Case {
    std::string refuse;
    tQrAction action;
    int code;
    std::string wire;
  };
  const std::vector<Case> cases = {
      {"USER", acCheck, kQrUserRefused, "USER user\r\nQUIT\r\n"},
      {"STAT", acCheck, kQrStatRefused, "USER user\r\nLIST\r\nPASS secret\r\nSTAT\r\nQUIT\r\n"},
      {"RETR", acGetMessage, kQrCommandRefused,
       "USER user\r\nLIST\r\nPASS secret\r\nRETR 2\r\nQUIT\r\n"},
      {"DELE", acDelete, kQrCommandRefused,
       "USER user\r\nLIST\r\nPASS secret\r\nDELE 2\r\nQUIT\r\n"},
  };
  // A good check first, so that a failed one is seen to reset the figures.
  Pop3();
  GivePassword({"secret"});
  ASSERT_TRUE(engine_->Check());
  ASSERT_TRUE(AwaitDone());
  ASSERT_EQ(engine_->MessageCount(), 2);
  for (const auto& c : cases) {
    MailBehaviour b;
    b.refuse = c.refuse;
    b.refusal = "-ERR no " + c.refuse + "\r\n";
    auto& server = Pop3(b);
    GivePassword({"secret"});
    done_.clear();
    const bool started = c.action == acCheck        ? engine_->Check()
                         : c.action == acGetMessage ? engine_->GetMessage(2)
                                                    : engine_->DeleteMessage(2);
    ASSERT_TRUE(started);
    ASSERT_TRUE(AwaitDone());
    EXPECT_EQ(engine_->ErrorCode(c.action), c.code) << c.refuse;
    EXPECT_EQ(engine_->ErrorText(c.action), b.refusal);
    if (c.action == acCheck) {
      EXPECT_EQ(engine_->MessageCount(), 0);
      EXPECT_EQ(engine_->MailboxSize(), 0);
    }
    ASSERT_TRUE(server.WaitClosed(1, std::chrono::seconds(5)));
    EXPECT_EQ(server.Received(0), c.wire);
  }
}

TEST_F(EngineTest, GetKeepsTheReplyByteForByte) {
  auto& server = Pop3();
  GivePassword({"secret"});
  ASSERT_TRUE(engine_->GetMessage(1));
  ASSERT_TRUE(AwaitDone());
  EXPECT_EQ(engine_->ErrorCode(acGetMessage), 0);
  const std::string stuffed = "From: A <a@x>\r\nSubject: One\r\n\r\nfirst\r\n..\r\n...dots\r\n";
  EXPECT_EQ(engine_->MessageText(), Retr(Mailbox()[0]) + stuffed + ".\r\n");
  tQrMessage m;
  engine_->ParseMessage(engine_->MessageText(), m);
  EXPECT_EQ(m.Subject, "One");
  EXPECT_EQ(m.Text, "first\r\n.\r\n..dots\r\n");
  // The message's unique id is asked for after it arrived whole, and kept with it.
  EXPECT_EQ(engine_->MessageUidl(), server.MessageUidl(0));
  ASSERT_TRUE(server.WaitClosed(1, std::chrono::seconds(5)));
  EXPECT_EQ(server.Received(0), "USER user\r\nLIST\r\nPASS secret\r\nRETR 1\r\nUIDL 1\r\nQUIT\r\n");

  // A failed retrieval keeps the previous text and its id.
  done_.clear();
  GivePassword({"secret"});
  const std::string previous = engine_->MessageText();
  ASSERT_TRUE(engine_->GetMessage(9));
  ASSERT_TRUE(AwaitDone());
  EXPECT_EQ(engine_->ErrorCode(acGetMessage), kQrCommandRefused);
  EXPECT_EQ(engine_->ErrorText(acGetMessage), "-ERR no such message\r\n");
  EXPECT_EQ(engine_->MessageText(), previous);
  EXPECT_EQ(engine_->MessageUidl(), server.MessageUidl(0));
}

TEST_F(EngineTest, AnnouncedSizeIsOnlyAHint) {
  // A status line that overstates the size must not leave the kept text holding room for it.
  MailBehaviour b;
  b.list_after_user = true;
  b.messages = {"Subject: s\r\n\r\nbody\r\n"};
  b.retr_status = "+OK 200000000 octets\r\n";
  Pop3(b);
  ASSERT_TRUE(engine_->GetMessage(1));
  ASSERT_TRUE(AwaitDone());
  EXPECT_EQ(engine_->ErrorCode(acGetMessage), 0);
  EXPECT_EQ(engine_->MessageText(), b.retr_status + "Subject: s\r\n\r\nbody\r\n.\r\n");
  EXPECT_LT(engine_->MessageTextShared()->capacity(), 4096u);
}

TEST_F(EngineTest, TricklingRepliesAreWaitedFor) {
  MailBehaviour b;
  b.trickle_gap_ms = 1;
  b.messages = {"Subject: s\r\n\r\nbody\r\n"};
  Pop3(b);
  GivePassword({"secret"});
  ASSERT_TRUE(engine_->GetMessage(1));
  ASSERT_TRUE(AwaitDone());
  EXPECT_EQ(engine_->ErrorCode(acGetMessage), 0);
  EXPECT_EQ(engine_->MessageText(), "+OK 20 octets\r\nSubject: s\r\n\r\nbody\r\n.\r\n");

  // A listing accepted after USER is not read to its end: its lines that trickle in after RETR
  // went out are taken for RETR's answer.
  b.list_after_user = true;
  Pop3(b);
  done_.clear();
  ASSERT_TRUE(engine_->GetMessage(1));
  ASSERT_TRUE(AwaitDone());
  EXPECT_EQ(engine_->ErrorCode(acGetMessage), kQrCommandRefused);
  EXPECT_EQ(engine_->ErrorText(acGetMessage).rfind("1 20\r\n", 0), 0u);
}

TEST_F(EngineTest, CutMessagesAreMarkedTruncated) {
  const std::string head = Retr(Mailbox()[1]) + "From: B <b@x>\r\nSubj";
  struct Case {
    MailCut cut;
    int code;
  };
  for (const Case c : {Case{MailCut::kStall, 0}, Case{MailCut::kClose, kQrException},
                       Case{MailCut::kReset, kQrException}}) {
    MailBehaviour b;
    b.list_after_user = true;
    b.cut = c.cut;
    b.cut_after = head.size();
    auto& server = Pop3(b);
    done_.clear();
    ASSERT_TRUE(engine_->GetMessage(2));
    if (c.cut == MailCut::kStall) {
      ASSERT_TRUE(server.WaitCuts(1, std::chrono::seconds(5)));
      Elapse(11);
    }
    ASSERT_TRUE(AwaitDone());
    EXPECT_EQ(engine_->ErrorCode(acGetMessage), c.code) << static_cast<int>(c.cut);
    if (c.cut != MailCut::kReset)  // a reset may discard what was still unread
      EXPECT_EQ(engine_->MessageText(), head + "\r\n<truncated>");
    else
      EXPECT_TRUE(engine_->MessageText().ends_with("\r\n<truncated>"));
  }
}

// The message is gone when the delete ends (a check started then must not find it), and a
// server that refuses QUIT has removed nothing, so the delete fails.
TEST_F(EngineTest, DeleteTakesEffectAtQuit) {
  auto& server = Pop3();
  GivePassword({"secret"});
  ASSERT_TRUE(engine_->DeleteMessage(1));
  ASSERT_TRUE(AwaitDone());
  EXPECT_EQ(engine_->ErrorCode(acDelete), 0);
  EXPECT_EQ(server.MailboxCount(), 1u);
  ASSERT_TRUE(server.WaitClosed(1, std::chrono::seconds(5)));
  EXPECT_EQ(server.Received(0), "USER user\r\nLIST\r\nPASS secret\r\nDELE 1\r\nQUIT\r\n");

  MailBehaviour b;
  b.messages = {"Subject: a\r\n\r\na", "Subject: b\r\n\r\nb"};
  b.refuse = "QUIT";
  b.refusal = "-ERR some deleted messages not removed\r\n";
  auto& refusing = Pop3(b);
  GivePassword({"secret"});
  done_.clear();
  ASSERT_TRUE(engine_->DeleteMessage(1));
  ASSERT_TRUE(AwaitDone());
  EXPECT_EQ(engine_->ErrorCode(acDelete), kQrCommandRefused);
  EXPECT_EQ(engine_->ErrorText(acDelete), b.refusal);
  EXPECT_EQ(refusing.MailboxCount(), 2u);
}

// Without an answer to QUIT nothing is known to be deleted: the delete fails.
TEST_F(EngineTest, ADeleteWhoseQuitGoesUnansweredFails) {
  for (const bool closes : {false, true}) {
    SCOPED_TRACE(closes);
    MailBehaviour b;
    b.unanswered = "QUIT";
    b.unanswered_closes = closes;
    auto& server = Pop3(b);
    GivePassword({"secret"});
    done_.clear();
    ASSERT_TRUE(engine_->DeleteMessage(1));
    if (!closes) {
      ASSERT_TRUE(PumpUntil([&] { return server.Received(0).ends_with("QUIT\r\n"); }));
      Elapse(11);
    }
    ASSERT_TRUE(AwaitDone());
    EXPECT_EQ(engine_->ErrorCode(acDelete), closes ? kQrCommandRefused : kQrTimeout);
    EXPECT_EQ(server.MailboxCount(), 2u);
  }
}

TEST_F(EngineTest, SendWire) {
  struct Case {
    std::string text;
    std::string data;
  };
  const std::vector<Case> cases = {
      {"Subject: x\r\n\r\nHi\r\n.x\r\n", "Subject: x\r\n\r\nHi\r\n..x\r\n\r\n.\r\n\r\n"},
      {"", "\r\n.\r\n\r\n"},
      {"a\nb\n", "a\r\nb\r\n\r\n.\r\n\r\n"},
      {".", "..\r\n\r\n.\r\n\r\n"},
  };
  for (const auto& c : cases) {
    auto& server = Smtp();
    done_.clear();
    ASSERT_TRUE(engine_->SendMail("me@x", "you@y", c.text));
    ASSERT_TRUE(AwaitDone());
    EXPECT_EQ(engine_->ErrorCode(acSend), 0);
    ASSERT_TRUE(server.WaitClosed(1, std::chrono::seconds(5)));
    EXPECT_EQ(server.Received(0),
              "HELO user\r\nMAIL FROM:<me@x>\r\nRCPT TO:<you@y>\r\nDATA\r\n" + c.data);
  }
}

TEST_F(EngineTest, SmtpFailures) {
  struct Case {
    MailBehaviour b;
    int code;
    std::string text;
    std::string wire;
  };
  auto with = [](auto f) {
    MailBehaviour b;
    f(b);
    return b;
  };
  const std::string all = "HELO user\r\nMAIL FROM:<me@x>\r\nRCPT TO:<you@y>\r\nDATA\r\n";
  const std::vector<Case> cases = {
      {with([](MailBehaviour& b) { b.greeting = "554 go away\r\n"; }), kQrInvalidHello,
       "Invalid hello", ""},
      {with([](MailBehaviour& b) { b.refuse = "HELO"; }), kQrHeloRefused, "550 refused\r\n",
       "HELO user\r\n"},
      {with([](MailBehaviour& b) { b.refuse = "MAIL"; }), kQrSendRefused, "550 refused\r\n",
       "HELO user\r\nMAIL FROM:<me@x>\r\n"},
      {with([](MailBehaviour& b) { b.refuse = "RCPT"; }), kQrSendRefused, "550 refused\r\n",
       "HELO user\r\nMAIL FROM:<me@x>\r\nRCPT TO:<you@y>\r\n"},
      {with([](MailBehaviour& b) { b.refuse = "DATA"; }), kQrSendRefused, "550 refused\r\n", all},
      {with([](MailBehaviour& b) { b.refuse = "."; }), kQrSendRefused, "550 refused\r\n",
       all + "x\r\n\r\n.\r\n\r\n"},
  };
  for (const auto& c : cases) {
    auto& server = Smtp(c.b);
    done_.clear();
    ASSERT_TRUE(engine_->SendMail("me@x", "you@y", "x"));
    ASSERT_TRUE(AwaitDone());
    EXPECT_EQ(engine_->ErrorCode(acSend), c.code) << c.wire;
    // The text is all that had arrived: the refusal first, maybe the answer to what followed.
    EXPECT_EQ(engine_->ErrorText(acSend).rfind(c.text, 0), 0u) << engine_->ErrorText(acSend);
    ASSERT_TRUE(server.WaitClosed(1, std::chrono::seconds(5)));
    EXPECT_EQ(server.Received(0), c.wire);
  }
}

TEST_F(EngineTest, ConnectionAndGreetingFailures) {
  struct Case {
    bool send;
    int code;
    std::string text;
  };
  // Refused connections, for both sides, without waiting for the time-out.
  for (const Case& c : {Case{false, kQrServerNotFound, "Server not found"},
                        Case{true, kQrServerNotFound, "Server not found"}}) {
    done_.clear();
    engine_->SetInPort(ClosedPort());
    engine_->SetOutPort(ClosedPort());
    ASSERT_TRUE(c.send ? engine_->SendMail("a", "b", "") : engine_->Check());
    ASSERT_TRUE(AwaitDone());
    const tQrAction a = c.send ? acSend : acCheck;
    EXPECT_EQ(engine_->ErrorCode(a), c.code);
    EXPECT_EQ(engine_->ErrorText(a), c.text);
  }
  // A POP3 greeting that is not "+OK": nothing is sent, not even QUIT.
  MailBehaviour b;
  b.greeting = "-ERR busy\r\n";
  auto& server = Pop3(b);
  done_.clear();
  ASSERT_TRUE(engine_->Check());
  ASSERT_TRUE(AwaitDone());
  EXPECT_EQ(engine_->ErrorCode(acCheck), kQrInvalidHello);
  EXPECT_EQ(engine_->ErrorText(acCheck), "Invalid hello");
  ASSERT_TRUE(server.WaitClosed(1, std::chrono::seconds(5)));
  EXPECT_EQ(server.Received(0), "");
  // A port that can't be resolved raises in set-up.
  done_.clear();
  engine_->SetInPort("no-such-service-dovrik");
  ASSERT_TRUE(engine_->Check());
  ASSERT_TRUE(AwaitDone());
  EXPECT_EQ(engine_->ErrorCode(acCheck), kQrException);
  EXPECT_FALSE(engine_->ErrorText(acCheck).empty());
}

TEST_F(EngineTest, SilentServerTimesOutAfterElevenWholeSeconds) {
  MailBehaviour b;
  b.silent = true;
  auto& server = Pop3(b);
  ASSERT_TRUE(engine_->Check());
  ASSERT_TRUE(server.WaitConnections(1, std::chrono::seconds(5)));
  Elapse(10.75);
  // Ten whole seconds are not more than TimeOut: the session keeps waiting.
  ASSERT_TRUE(clock_.AwaitWorkerReads(3));
  PumpUntil([] { return false; }, std::chrono::milliseconds(0));
  EXPECT_TRUE(done_.empty());
  clock_.Set(1011.0);
  ASSERT_TRUE(AwaitDone());
  EXPECT_EQ(engine_->ErrorCode(acCheck), kQrTimeout);
  EXPECT_EQ(engine_->ErrorText(acCheck), "Timeout");
  ASSERT_TRUE(server.WaitClosed(1, std::chrono::seconds(5)));
  EXPECT_EQ(server.Received(0), "");

  // The SMTP side reports a silent greeting as an invalid hello.
  b.protocol = tools::MailProtocol::kSmtp;
  Smtp(b);
  done_.clear();
  ASSERT_TRUE(engine_->SendMail("a", "b", "c"));
  ASSERT_TRUE(smtp_->WaitConnections(1, std::chrono::seconds(5)));
  Elapse(11);
  ASSERT_TRUE(AwaitDone());
  EXPECT_EQ(engine_->ErrorCode(acSend), kQrInvalidHello);
}

// A wait reads TimeOut at every test, not once when it begins: lowering it ends a wait at once.
TEST_F(EngineTest, LoweredTimeOutEndsARunningWait) {
  MailBehaviour b;
  b.silent = true;
  auto& server = Pop3(b);
  engine_->SetTimeOut(60);
  ASSERT_TRUE(engine_->Check());
  ASSERT_TRUE(server.WaitConnections(1, std::chrono::seconds(5)));
  Elapse(30);
  ASSERT_TRUE(clock_.AwaitWorkerReads(3));
  PumpUntil([] { return false; }, std::chrono::milliseconds(0));
  EXPECT_TRUE(done_.empty());
  engine_->SetTimeOut(20);
  ASSERT_TRUE(AwaitDone());
  EXPECT_EQ(engine_->ErrorCode(acCheck), kQrTimeout);
}

TEST_F(EngineTest, ConnectThatHangsTimesOut) {
  MailBehaviour b;
  b.never_accept = true;
  Pop3(b);
  ASSERT_TRUE(engine_->Check());
  Elapse(11);
  ASSERT_TRUE(AwaitDone());
  EXPECT_EQ(engine_->ErrorCode(acCheck), kQrTimeout);
  EXPECT_EQ(engine_->ErrorText(acCheck), "Timeout");
}

TEST_F(EngineTest, BusyActionIsRefusedWithoutEvent) {
  MailBehaviour b;
  b.silent = true;
  auto& server = Pop3(b);
  ASSERT_TRUE(engine_->Check());
  EXPECT_FALSE(engine_->Check());
  EXPECT_EQ(started_, std::vector<tQrAction>{acCheck});
  ASSERT_TRUE(server.WaitConnections(1, std::chrono::seconds(5)));
  Elapse(11);
  ASSERT_TRUE(AwaitDone());
  EXPECT_EQ(server.Connections(), 1u);
  EXPECT_TRUE(engine_->Check());  // free again once its end was reported
  ASSERT_TRUE(server.WaitConnections(2, std::chrono::seconds(5)));
  Elapse(11);
  ASSERT_TRUE(AwaitDone(2));
}

TEST_F(EngineTest, AllFourActionsAtOnce) {
  Pop3();
  Smtp();
  GivePassword({"secret", "secret", "secret"});
  ASSERT_TRUE(engine_->Check());
  ASSERT_TRUE(engine_->GetMessage(1));
  ASSERT_TRUE(engine_->DeleteMessage(2));  // whenever it lands, message 1 stays number 1
  ASSERT_TRUE(engine_->SendMail("me@x", "you@y", "hello"));
  EXPECT_FALSE(engine_->GetMessage(2));
  EXPECT_EQ(started_.size(), 4u);
  ASSERT_TRUE(AwaitDone(4));
  for (tQrAction a : {acCheck, acGetMessage, acDelete, acSend})
    EXPECT_EQ(engine_->ErrorCode(a), 0) << a;
  EXPECT_TRUE(engine_->MessageText().starts_with(Retr(Mailbox()[0]) + "From: A <a@x>\r\n"));
  EXPECT_EQ(pass_calls_, 3u);
}

TEST_F(EngineTest, DestructionDetachesRunningSessions) {
  // Greetings that never end: bytes keep arriving after the sessions were told to stop, and they
  // must be taken and dropped, or a session would spin on them.
  MailBehaviour b;
  b.greeting = "+OK " + std::string(100000, 'x') + "\r\n";
  b.trickle_gap_ms = 1;
  auto& server = Pop3(b);
  ASSERT_TRUE(engine_->Check());
  ASSERT_TRUE(engine_->GetMessage(1));
  ASSERT_TRUE(server.WaitConnections(2, std::chrono::seconds(5)));
  engine_.reset();
  // The sessions see their terminated flag, close their connections and end without an event.
  ASSERT_TRUE(PumpUntil([&] { return server.WaitClosed(2, std::chrono::milliseconds(0)); }));
  EXPECT_TRUE(done_.empty());
}

TEST_F(EngineTest, DestructionInsidePasswordPrompt) {
  auto& server = Pop3();
  engine_->OnGetPass = [this](TQuorrel*, std::string& aPass) {
    engine_.reset();  // the owner goes away while the session waits for the password
    aPass = "secret";
  };
  ASSERT_TRUE(engine_->Check());
  ASSERT_TRUE(PumpUntil([&] { return !engine_; }));
  ASSERT_TRUE(PumpUntil([&] { return server.WaitClosed(1, std::chrono::milliseconds(0)); }));
  EXPECT_TRUE(done_.empty());
  EXPECT_EQ(server.Received(0).rfind("USER user\r\nLIST\r\n", 0), 0u);
}

TEST_F(EngineTest, SessionEndingAfterTheMainThreadStoppedServingLeavesTheList) {
  // At shutdown the main thread may stop serving workers before it frees the engine: a session
  // ending then can't report, and must not stay listed once it has freed itself.
  MailBehaviour b;
  b.list_after_user = true;
  auto& server = Pop3(b);
  platform::StopSynchronize();
  ASSERT_TRUE(engine_->Check());
  ASSERT_TRUE(server.WaitClosed(1, std::chrono::seconds(5)));
  EXPECT_TRUE(PumpUntil([&] { return !engine_->IsBusy(acCheck); }));
  engine_.reset();
  platform::SetMainThread();
  EXPECT_TRUE(done_.empty());
}

TEST_F(EngineTest, ProcessEndsPromptlyWithSessionsRunning) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        MailBehaviour b;
        b.never_accept = true;
        Pop3(b);
        engine_->Check();
        engine_.reset();
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

// The check timer's tick starts a check only while checking is switched on. The tick is driven
// by hand: the timer's shortest interval is 10 s of real time.
TEST_F(EngineTest, TimerTickChecksOnlyWhileActive) {
  Pop3();
  GivePassword({"secret"});
  engine_->CheckTimer().OnTimer();
  EXPECT_TRUE(started_.empty());
  engine_->SetCheckEvery(10);
  engine_->SetCheckActive(true);
  EXPECT_TRUE(engine_->CheckTimer().Enabled());
  engine_->CheckTimer().OnTimer();
  ASSERT_TRUE(AwaitDone());
  EXPECT_EQ(started_, std::vector<tQrAction>{acCheck});
  EXPECT_EQ(engine_->MessageCount(), 2);
}

TEST_F(EngineTest, SetterRules) {
  EXPECT_EQ(engine_->CheckEvery(), 0);
  EXPECT_EQ(engine_->UserName(), "user");
  TQuorrel fresh;
  EXPECT_EQ(fresh.UserName(), "SomeUser");
  EXPECT_EQ(fresh.InPort(), "pop3");
  EXPECT_EQ(fresh.OutPort(), "smtp");
  EXPECT_EQ(fresh.TimeOut(), 0);
  fresh.SetTimeOut(0);
  EXPECT_EQ(fresh.TimeOut(), 10);
  fresh.SetTimeOut(25);
  EXPECT_EQ(fresh.TimeOut(), 25);
  // Without a stored interval the timer runs with interval 0, which never fires.
  fresh.SetCheckActive(true);
  EXPECT_TRUE(fresh.CheckActive());
  EXPECT_EQ(fresh.CheckTimer().Interval(), 0u);
  fresh.SetCheckEvery(5);
  EXPECT_EQ(fresh.CheckEvery(), 10);
  EXPECT_EQ(fresh.CheckTimer().Interval(), 10000u);
  fresh.SetCheckEvery(30);
  EXPECT_EQ(fresh.CheckTimer().Interval(), 30000u);
  // An interval beyond the timer's millisecond range waits as long as it can, never wraps short.
  fresh.SetCheckEvery(4294968);
  EXPECT_EQ(fresh.CheckTimer().Interval(), UINT_MAX);
  fresh.SetCheckEvery(INT_MAX);
  EXPECT_EQ(fresh.CheckTimer().Interval(), UINT_MAX);
  fresh.SetCheckActive(false);
  EXPECT_FALSE(fresh.CheckActive());
  fresh.SetCheckEvery(40);
  EXPECT_FALSE(fresh.CheckActive());
  EXPECT_EQ(fresh.CheckEvery(), 40);
}

}  // namespace
}  // namespace dovrik::testing
