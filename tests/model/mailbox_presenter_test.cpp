// The presenter against a real engine and the test mail server on loopback: what the window would
// show after each engine event, without any widget.
#include "model/mailbox_presenter.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/engine/engine_fixture.h"

namespace dovrik {
namespace {

using tools::MailBehaviour;
using tools::MailServer;

struct FakeView : MailboxView {
  void refresh(unsigned parts) override { refreshed |= parts; }
  void popUp() override { ++popups; }
  unsigned refreshed = 0;
  int popups = 0;
};

std::vector<std::string> ThreeMessages() {
  return {
      "From: Some One <box>\r\nTo: me@example.invalid\r\nSubject: First\r\n"
      "Date: Mon, 5 Jan 2026 10:00:00 +0000\r\n\r\nfirst body\r\n",
      "From: B <b@example.invalid>\r\nSubject: Second\r\n\r\nsecond body\r\n",
      "From: C <c@example.invalid>\r\nSubject: Third\r\n\r\nthird body\r\n"};
}

MailBehaviour Box(std::vector<std::string> messages, std::string refuse = "",
                  std::string refusal = "") {
  MailBehaviour b;
  b.messages = std::move(messages);
  b.refuse = std::move(refuse);
  b.refusal = std::move(refusal);
  return b;
}

class PresenterTest : public testing::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    presenter_ = std::make_unique<MailboxPresenter>(*engine_, view_, QStringList{"credits"});
    engine_->OnActionStart = [this](TQuorrel*, tQrAction a) {
      started_.push_back(a);
      presenter_->actionStarted(a);
    };
    engine_->OnActionDone = [this](TQuorrel*, tQrAction a) {
      done_.push_back(a);
      presenter_->actionDone(a);
    };
    engine_->OnGetPass = [](TQuorrel*, std::string& pass) { pass = "secret"; };
    presenter_->setOptions({
        .popup_on_new_message = [this] { return popup_; },
        .auto_get_message = [this] { return auto_get_; },
        .log_enabled = [this] { return log_; },
        .confirm_password = [this] { ++confirmed_; },
        .time_text = [] { return std::string("12:00"); },
    });
  }
  void TearDown() override {
    presenter_->setDestroying();
    EngineTest::TearDown();
  }

  std::size_t Ended(tQrAction a) const { return std::count(done_.begin(), done_.end(), a); }
  // Pumps until one more action of this kind has ended.
  void AwaitEnd(tQrAction a) {
    const std::size_t before = Ended(a);
    ASSERT_TRUE(PumpUntil([&] { return Ended(a) > before; }));
  }
  // A check that has to end before the test goes on.
  void CheckAndWait() {
    const std::size_t before = Ended(acCheck);
    presenter_->checkNow();
    ASSERT_TRUE(PumpUntil([&] { return Ended(acCheck) > before; }));
  }
  void UseServer(MailServer& server) { engine_->SetInPort(std::to_string(server.Port())); }
  const MailboxScreen& Screen() const { return presenter_->screen(); }

  FakeView view_;
  std::unique_ptr<MailboxPresenter> presenter_;
  bool popup_ = false;
  bool auto_get_ = false;
  bool log_ = false;
  int confirmed_ = 0;
};

TEST(PresenterTextsTest, SummaryNamesAndOneLineErrors) {
  EXPECT_EQ(MailboxSummary(5120, 3), "5120 bytes in 3 message(s)");
  const std::pair<tQrAction, std::string> names[] = {{acNone, "Idle"},
                                                     {acCheck, "Checking mail"},
                                                     {acGetMessage, "Getting message"},
                                                     {acDelete, "Deleting message"},
                                                     {acSend, "Sending mail"}};
  for (const auto& [action, name] : names) EXPECT_EQ(ActionName(action), name);
  EXPECT_STREQ(ActionName(static_cast<tQrAction>(9)), "");
  const std::pair<std::string, std::string> lines[] = {
      {"-ERR refused\r\n", "-ERR refused"},
      {"Error 10061\r\nConnection refused", "Error 10061 Connection refused"},
      {"  a\r\rb\n", "a b"},
      {"Timeout", "Timeout"},
      {"", ""},
  };
  for (const auto& [in, out] : lines) EXPECT_EQ(OneLine(in), out) << in;
}

TEST_F(PresenterTest, FirstCheckOfAnEmptyMailbox) {
  popup_ = auto_get_ = true;
  MailServer empty(Box({}));
  UseServer(empty);
  CheckAndWait();
  const MailboxScreen& s = Screen();
  EXPECT_EQ(s.tab_count, 0);
  EXPECT_EQ(s.selected, -1);
  EXPECT_EQ(s.text, kNoMessagesText);
  EXPECT_FALSE(s.header_visible);
  EXPECT_FALSE(s.tray_new_mail);
  EXPECT_FALSE(s.menus.delete_message);
  EXPECT_FALSE(s.menus.abort);
  EXPECT_EQ(s.status[0], "0 bytes in 0 message(s)");
  EXPECT_EQ(s.status_hint, s.status[0]);
  EXPECT_EQ(s.tray_hint, s.status[0]);
  EXPECT_EQ(s.status[1], "Checked 1 times");
  EXPECT_EQ(s.status[2], "");
  EXPECT_EQ(view_.popups, 0);
  EXPECT_EQ(confirmed_, 1);
  EXPECT_EQ(started_, std::vector<tQrAction>{acCheck});  // nothing to fetch
  EXPECT_FALSE(presenter_->deleteRequest());             // nothing to delete
}

TEST_F(PresenterTest, FirstCheckWithMailBuildsTabsAndFetchesTheFirst) {
  popup_ = auto_get_ = true;
  MailServer& server = Pop3(Box(ThreeMessages()));
  presenter_->checkNow();
  EXPECT_EQ(Screen().status[2], "Checking mail");
  EXPECT_EQ(Screen().tray_hint, "Checking mail");
  EXPECT_TRUE(Screen().menus.abort);
  AwaitEnd(acCheck);

  const MailboxScreen& s = Screen();
  EXPECT_EQ(s.tab_count, 3);
  EXPECT_EQ(s.selected, 0);
  EXPECT_EQ(s.text, kPleaseWaitText);
  EXPECT_FALSE(s.header_visible);
  EXPECT_TRUE(s.tray_new_mail);
  EXPECT_TRUE(s.menus.delete_message);
  EXPECT_EQ(s.status[2], "Getting message");  // the fetch started as the check ended
  EXPECT_EQ(s.tray_hint, s.status[0]);        // set by the check end, after the fetch's start
  EXPECT_EQ(view_.popups, 1);
  EXPECT_EQ(started_, (std::vector<tQrAction>{acCheck, acGetMessage}));

  AwaitEnd(acGetMessage);
  EXPECT_TRUE(s.header_visible);
  EXPECT_EQ(s.header.From, "Some One <box>");
  EXPECT_EQ(s.header.Subject, "First");
  EXPECT_EQ(s.header.Date, "Mon, 5 Jan 2026 10:00:00 +0000");
  EXPECT_EQ(s.text, "first body\r\n");
  EXPECT_EQ((MenuStates{.get_message = false,
                        .reply = true,
                        .save_as = true,
                        .delete_message = true,
                        .abort = false}),
            s.menus);
  EXPECT_EQ(s.tray_hint, s.status[0]);
  EXPECT_EQ(s.status[2], "");
  ASSERT_NE(presenter_->selectedText(), nullptr);
  EXPECT_NE(presenter_->selectedText()->find("first body"), std::string::npos);
  EXPECT_NE(server.Received(1).find("RETR 1\r\n"), std::string::npos);
}

TEST_F(PresenterTest, AnUnchangedMailboxKeepsTabsSelectionAndLog) {
  popup_ = log_ = true;
  Pop3(Box(ThreeMessages()));
  CheckAndWait();
  presenter_->selectTab(2);
  EXPECT_EQ(Screen().text, kClickGetText);
  EXPECT_TRUE(Screen().menus.get_message);
  const int generation = Screen().tabs_generation;
  const QStringList log = presenter_->log();

  CheckAndWait();
  EXPECT_EQ(Screen().tabs_generation, generation);
  EXPECT_EQ(Screen().selected, 2);
  EXPECT_EQ(Screen().text, kClickGetText);
  EXPECT_EQ(presenter_->log(), log);
  EXPECT_EQ(view_.popups, 1);  // only the first check found a change
  EXPECT_EQ(Screen().status[1], "Checked 2 times");
}

TEST_F(PresenterTest, ASizeChangeRebuildsTheTabsAndDropsRetrievedTexts) {
  log_ = true;
  MailServer before(Box({"Subject: a\r\n\r\nx\r\n", "Subject: b\r\n\r\ny\r\n"}));
  MailServer after(Box({"Subject: a\r\n\r\nx\r\n", "Subject: b\r\n\r\nlonger\r\n"}));
  UseServer(before);
  CheckAndWait();
  const std::string first_summary = Screen().status[0];
  ASSERT_TRUE(presenter_->getSelected());
  AwaitEnd(acGetMessage);
  ASSERT_NE(presenter_->selectedText(), nullptr);
  const int generation = Screen().tabs_generation;

  UseServer(after);
  CheckAndWait();
  EXPECT_EQ(Screen().tab_count, 2);
  EXPECT_EQ(Screen().tabs_generation, generation + 1);
  EXPECT_EQ(Screen().selected, 0);
  EXPECT_EQ(presenter_->selectedText(), nullptr);
  EXPECT_EQ(Screen().text, kClickGetText);
  EXPECT_FALSE(Screen().header_visible);
  // Newer lines on top, both above the credits.
  EXPECT_EQ(presenter_->log(),
            (QStringList{QString::fromStdString("12:00 :=> " + Screen().status[0]),
                         QString::fromStdString("12:00 :=> " + first_summary), "credits"}));
}

TEST_F(PresenterTest, AFailedCheckChangesOnlyStatusTrayHintAndCounter) {
  Pop3(Box(ThreeMessages()));
  CheckAndWait();
  const MailboxScreen shown = Screen();
  pop3_.reset();  // nobody listens on the port any more
  CheckAndWait();
  const MailboxScreen& s = Screen();
  EXPECT_NE(engine_->ErrorCode(acCheck), 0);
  EXPECT_EQ(s.tray_hint, kErrorHint);
  EXPECT_EQ(s.status[0], OneLine(engine_->ErrorText(acCheck)));
  EXPECT_EQ(s.status[0].find('\n'), std::string::npos);
  EXPECT_EQ(s.status_hint, s.status[0]);
  EXPECT_EQ(s.status[1], "Checked 2 times");
  EXPECT_EQ(s.tab_count, shown.tab_count);
  EXPECT_EQ(s.tabs_generation, shown.tabs_generation);
  EXPECT_EQ(s.tray_new_mail, shown.tray_new_mail);
  EXPECT_EQ(s.menus, shown.menus);
  EXPECT_EQ(s.text, shown.text);
  EXPECT_EQ(presenter_->lastCount(), 3);
  EXPECT_EQ(confirmed_, 1);  // only the successful check confirms the password
}

TEST_F(PresenterTest, AFetchEndingOnAnotherTabFillsOnlyItsOwnSlot) {
  MailServer& server = Pop3(Box(ThreeMessages()));
  CheckAndWait();
  ASSERT_TRUE(presenter_->getSelected());  // message 1
  presenter_->selectTab(1);
  AwaitEnd(acGetMessage);
  EXPECT_EQ(Screen().selected, 1);
  EXPECT_EQ(Screen().text, kClickGetText);
  EXPECT_FALSE(Screen().header_visible);
  // A delete now names the second message and the mailbox as last checked; its id is unknown
  // until it is retrieved.
  const auto request = presenter_->deleteRequest();
  ASSERT_TRUE(request);
  EXPECT_EQ(request->number, 2);
  EXPECT_EQ(request->guard.ExpectedCount, 3);
  EXPECT_EQ(request->guard.ExpectedSize, presenter_->lastSize());
  EXPECT_EQ(request->guard.ExpectedUidl, "");

  const std::size_t connections = server.Connections();
  presenter_->selectTab(0);  // shown from its slot, not fetched again
  EXPECT_EQ(Screen().text, "first body\r\n");
  EXPECT_TRUE(Screen().header_visible);
  EXPECT_EQ(server.Connections(), connections);
}

TEST_F(PresenterTest, AFailedFetchStoresNothingAndOffersToFetchAgain) {
  MailServer good(Box(ThreeMessages()));
  MailServer refusing(Box(ThreeMessages(), "RETR", "-ERR busy\r\n"));
  UseServer(good);
  CheckAndWait();
  ASSERT_TRUE(presenter_->getSelected());
  AwaitEnd(acGetMessage);

  UseServer(refusing);
  presenter_->selectTab(1);
  ASSERT_TRUE(presenter_->getSelected());
  AwaitEnd(acGetMessage);
  ASSERT_NE(engine_->ErrorCode(acGetMessage), 0);
  // The engine still holds message 1; tab 1 must not take it for its own.
  EXPECT_NE(engine_->MessageText().find("first body"), std::string::npos);
  EXPECT_EQ(presenter_->selectedText(), nullptr);
  EXPECT_FALSE(Screen().header_visible);
  EXPECT_NE(Screen().text.find("-ERR busy"), std::string::npos);
  EXPECT_NE(Screen().text.find(kClickGetText), std::string::npos);
  EXPECT_EQ((MenuStates{.get_message = true,
                        .reply = false,
                        .save_as = false,
                        .delete_message = true,
                        .abort = false}),
            Screen().menus);

  UseServer(good);  // trying again works
  ASSERT_TRUE(presenter_->getSelected());
  AwaitEnd(acGetMessage);
  EXPECT_EQ(Screen().text, "second body\r\n");
}

TEST_F(PresenterTest, AFetchEndingAfterARebuildIsDropped) {
  MailServer three(Box(ThreeMessages()));
  MailServer one(Box({"Subject: only\r\n\r\nonly\r\n"}));
  UseServer(three);
  CheckAndWait();
  presenter_->selectTab(2);
  // The fetch of message 3 waits for its password while a check finds one message.
  bool rebuilt = false;
  engine_->OnGetPass = [&](TQuorrel*, std::string& pass) {
    pass = "secret";
    if (rebuilt || !engine_->IsBusy(acGetMessage) || engine_->IsBusy(acCheck)) return;
    rebuilt = true;
    UseServer(one);
    CheckAndWait();
  };
  ASSERT_TRUE(presenter_->getSelected());
  AwaitEnd(acGetMessage);
  ASSERT_TRUE(rebuilt);
  EXPECT_EQ(engine_->ErrorCode(acGetMessage), 0);
  EXPECT_EQ(presenter_->getIndex(), 2);
  EXPECT_EQ(Screen().tab_count, 1);
  EXPECT_EQ(Screen().text, kClickGetText);  // what the rebuild showed, untouched
  EXPECT_EQ(presenter_->selectedText(), nullptr);
}

TEST_F(PresenterTest, AnAutomaticFetchRefusedWhileOneRunsSaysSo) {
  auto_get_ = true;
  Pop3(Box(ThreeMessages()));
  CheckAndWait();
  ASSERT_TRUE(engine_->IsBusy(acGetMessage));
  presenter_->selectTab(1);
  EXPECT_EQ(Screen().text, kGetRefusedText);
  EXPECT_FALSE(Screen().menus.get_message);
  AwaitEnd(acGetMessage);
  EXPECT_EQ(Screen().text, kGetRefusedText);  // message 1's text went to its own slot
}

TEST_F(PresenterTest, ADeleteEndStartsACheck) {
  Pop3(Box(ThreeMessages()));
  CheckAndWait();
  ASSERT_TRUE(engine_->DeleteMessage(1));
  EXPECT_EQ(Screen().status[2], "Deleting message");
  AwaitEnd(acDelete);
  EXPECT_EQ(started_.back(), acCheck);
  EXPECT_EQ(Screen().tray_hint, "Checking mail");
  AwaitEnd(acCheck);
  EXPECT_EQ(Screen().tab_count, 2);
}

TEST_F(PresenterTest, AFailedSendIsLoggedLastOnlyWhenLogging) {
  for (bool logging : {false, true}) {
    SCOPED_TRACE(logging);
    log_ = logging;
    const QStringList before = presenter_->log();
    Smtp(Box({}, "MAIL", "550 no thanks\r\n"));
    ASSERT_TRUE(engine_->SendMail("a@example.invalid", "b@example.invalid", "Subject: x\r\n\r\nx"));
    AwaitEnd(acSend);
    EXPECT_EQ(Screen().tray_hint, "Sending mail");  // a send end leaves the hint
    if (!logging) {
      EXPECT_EQ(presenter_->log(), before);
      continue;
    }
    ASSERT_EQ(presenter_->log().size(), before.size() + 1);
    EXPECT_EQ(presenter_->log().front(), "credits");
    EXPECT_TRUE(presenter_->log().back().contains("no thanks"))
        << presenter_->log().back().toStdString();
  }
}

TEST_F(PresenterTest, EventsWhileDestroyingAreIgnored) {
  presenter_->setDestroying();
  presenter_->actionStarted(acCheck);
  presenter_->actionDone(acCheck);
  EXPECT_TRUE(presenter_->runningActions().empty());
  EXPECT_EQ(Screen().status[1], "");
  EXPECT_EQ(view_.refreshed, 0u);
}

TEST_F(PresenterTest, MimeMessagesAreShownDecodedAndSavedRaw) {
  const std::string mime =
      "From: =?UTF-8?Q?Zo=C3=AB?= <zoe@example.invalid>\r\nTo: me@example.invalid\r\n"
      "Subject: =?ISO-8859-1?Q?Caf=E9?=\r\nDate: Mon, 5 Jan 2026 10:00:00 +0000\r\n"
      "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n"
      "--b\r\nContent-Type: text/plain; charset=utf-8\r\n"
      "Content-Transfer-Encoding: quoted-printable\r\n\r\nGr=C3=BC=C3=9Fe\r\n.dot\r\n"
      "--b\r\nContent-Type: application/pdf\r\nContent-Disposition: attachment;"
      " filename*=UTF-8''r%C3%A9sum%C3%A9.pdf\r\nContent-Transfer-Encoding: base64\r\n\r\n"
      "AAECAwQF\r\n--b--\r\n";
  auto_get_ = true;
  MailServer& server = Pop3(Box({mime, ThreeMessages()[1]}));
  presenter_->checkNow();
  AwaitEnd(acCheck);
  AwaitEnd(acGetMessage);
  const MailboxScreen& s = Screen();
  EXPECT_EQ(s.header.From, "Zo\xc3\xab <zoe@example.invalid>");
  EXPECT_EQ(s.header.To, "me@example.invalid");
  EXPECT_EQ(s.header.Subject, "Caf\xc3\xa9");
  EXPECT_EQ(s.text,
            "Gr\xc3\xbc\xc3\x9f"
            "e\r\n.dot\r\n\r\nAttachments:\r\n"
            "  r\xc3\xa9sum\xc3\xa9.pdf (application/pdf, 6 bytes)\r\n");
  // The slot keeps the message as it came, for Save as.
  ASSERT_NE(presenter_->selectedText(), nullptr);
  EXPECT_NE(presenter_->selectedText()->find("Gr=C3=BC=C3=9Fe\r\n..dot"), std::string::npos);

  // A message without MIME is split by the engine as before.
  presenter_->selectTab(1);
  AwaitEnd(acGetMessage);
  EXPECT_EQ(s.header.Subject, "Second");
  EXPECT_EQ(s.text, "second body\r\n");
  (void)server;
}

}  // namespace
}  // namespace dovrik
