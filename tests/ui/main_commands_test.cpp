// The main window's commands with all four windows wired, against the test mail servers on
// loopback: what goes on the wire, what is written to disk and to the store, and when the window
// closes. Every question is answered in advance through the scripted desktop.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <utility>

#include "components/rx_tray.h"
#include "engine/quorrel.h"
#include "engine/text_lines.h"
#include "model/message_file.h"
#include "platform/message_queue.h"
#include "settings/registry.h"
#include "tests/components/recording_tray.h"
#include "tests/settings/isolated_store.h"
#include "tests/ui/scripted_desktop.h"
#include "tools/mailserver/mail_server.h"
#include "ui/compose_window.h"
#include "ui/main_window.h"
#include "ui/message_tab_bar.h"
#include "ui/settings_window.h"

namespace dovrik {
namespace {

namespace fs = std::filesystem;
using tools::MailBehaviour;
using tools::MailServer;

const char* kSender = "Me Myself <me@example.invalid>";

// What the engine puts on the wire for a message text: each line dot-stuffed and ended by CR LF,
// then the end of the data.
std::string Stuffed(const std::string& text) {
  std::string data;
  for (std::string_view line : SplitLines(text)) {
    if (!line.empty() && line.front() == '.') data += '.';
    data.append(line) += "\r\n";
  }
  return data + "\r\n.\r\n\r\n";
}

std::string FileText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Lets a test act while a Yes/No question is open, as the user could through the tray.
class HookedDesktop : public testing::ScriptedDesktop {
 public:
  bool askYesNo(QWidget* parent, std::string_view question) override {
    if (auto act = std::exchange(while_asking, nullptr)) act();
    return ScriptedDesktop::askYesNo(parent, question);
  }
  std::function<void()> while_asking;
};

class CommandsTest : public testing::IsolatedStore {
 protected:
  void SetUp() override {
    IsolatedStore::SetUp();
    platform::SetMainThread();
    auto tray = std::make_unique<testing::RecordingTray>();
    tray_ = tray.get();
    window_ = std::make_unique<MainWindow>(desktop_, nullptr, std::move(tray));
    settings_ = std::make_unique<SettingsWindow>(window_->link(), desktop_);
    compose_ =
        std::make_unique<ComposeWindow>(desktop_, [this] { return settings_->senderText(); });
    window_->connectWindows(settings_.get(), nullptr, compose_.get());
    window_->setPasswordAsker([](std::string& pass) {
      pass = "secret";
      return true;
    });
    SetSwitch("CB1", false);
    SetSwitch("CB2", false);
    SetSwitch("CB4", false);
    settings_->findChild<QLineEdit*>("Edit9")->setText(kSender);
    TQuorrel& e = window_->engine();
    e.SetInServer("127.0.0.1");
    e.SetOutServer("127.0.0.1");
    e.SetUserName("user");
  }
  void TearDown() override {
    window_.reset();
    compose_.reset();
    settings_.reset();
    IsolatedStore::TearDown();
  }
  void SetSwitch(const char* name, bool on) {
    settings_->findChild<QCheckBox*>(name)->setChecked(on);
  }
  MailServer& Pop3(std::vector<std::string> messages) {
    MailBehaviour b;
    b.messages = std::move(messages);
    pop3_ = std::make_unique<MailServer>(b);
    window_->engine().SetInPort(std::to_string(pop3_->Port()));
    return *pop3_;
  }
  MailServer& Smtp() {
    MailBehaviour b;
    b.protocol = tools::MailProtocol::kSmtp;
    smtp_ = std::make_unique<MailServer>(b);
    window_->engine().SetOutPort(std::to_string(smtp_->Port()));
    return *smtp_;
  }
  bool Idle() {
    return QTest::qWaitFor([&] { return window_->presenter().runningActions().empty(); }, 5000);
  }
  void CheckAndWait() {
    window_->checkNow();
    ASSERT_TRUE(Idle());
  }
  void Fetch(int tab) {
    window_->tabs().setCurrentIndex(tab);
    ASSERT_TRUE(window_->getSelected());
    ASSERT_TRUE(Idle());
  }
  // The compose window: optionally edits the text, then ends with Send (true) or Ignore.
  void AnswerCompose(bool send, std::function<void(QPlainTextEdit&)> edit = {}) {
    desktop_.onModal([this, send, edit](QDialog& dialog) {
      EXPECT_EQ(dialog.objectName(), "Form3");
      if (edit) edit(compose_->textArea());
      return send ? QDialog::Accepted : QDialog::Rejected;
    });
  }
  std::string Sent() {
    if (!smtp_->WaitClosed(1, std::chrono::seconds(5))) return {};
    return smtp_->Received(0);
  }

  HookedDesktop desktop_;
  testing::RecordingTray* tray_ = nullptr;
  std::unique_ptr<MailServer> pop3_;
  std::unique_ptr<MailServer> smtp_;
  std::unique_ptr<MainWindow> window_;
  std::unique_ptr<SettingsWindow> settings_;
  std::unique_ptr<ComposeWindow> compose_;
};

TEST_F(CommandsTest, ANewMessageIsSentAsComposedWithDotStuffing) {
  Smtp();
  desktop_.answerText(QString("Friend <friend@example.invalid>"));
  AnswerCompose(true, [](QPlainTextEdit& memo) {
    memo.appendPlainText(".a line that starts with a dot\n..and two\n.");
  });
  desktop_.answerYesNo(true);
  window_->newMessage();
  const std::string composed = compose_->text();
  ASSERT_TRUE(Idle());
  EXPECT_EQ(window_->engine().ErrorCode(acSend), 0) << window_->engine().ErrorText(acSend);
  const std::string head =
      "HELO user\r\nMAIL FROM:<me@example.invalid>\r\nRCPT TO:<friend@example.invalid>\r\nDATA\r\n";
  EXPECT_EQ(Sent(), head + Stuffed(composed));
  EXPECT_NE(composed.find("\r\n.a line that starts"), std::string::npos);
  EXPECT_EQ(ReadRegString("PELLORY", "LASTFRIEND", ""), "Friend <friend@example.invalid>");
  ASSERT_EQ(desktop_.asked().size(), 3u);
  EXPECT_EQ(desktop_.asked()[0].text, "E-Mail address:");
  EXPECT_EQ(desktop_.asked()[0].detail, "friend@example.invalid");  // the built-in first recipient
  EXPECT_EQ(desktop_.asked()[2].text, "Send this reply?");
}

TEST_F(CommandsTest, ANewMessageStoresTheRecipientOnlyOnceComposed) {
  struct Case {
    const char* what;
    bool address_given;
    bool compose_sends;
    bool confirmed;
    bool stored;
  };
  const Case cases[] = {
      {"address cancelled", false, false, false, false},
      {"compose ignored", true, false, false, false},
      {"send refused at the question", true, true, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteRegString("PELLORY", "LASTFRIEND", "old@example.invalid");
    desktop_.answerText(c.address_given ? std::optional<QString>("new@example.invalid")
                                        : std::nullopt);
    if (c.address_given) AnswerCompose(c.compose_sends);
    if (c.compose_sends) desktop_.answerYesNo(c.confirmed);
    window_->newMessage();
    EXPECT_EQ(ReadRegString("PELLORY", "LASTFRIEND", ""),
              c.stored ? "new@example.invalid" : "old@example.invalid");
    EXPECT_FALSE(window_->engine().IsBusy(acSend));
  }
}

TEST_F(CommandsTest, AReplyGoesToTheBareAddressOfTheSenderShown) {
  Pop3({"From: Some One <box>\r\nSubject: Question\r\n\r\nAre you there?\r\n"});
  Smtp();
  CheckAndWait();
  Fetch(0);
  ASSERT_TRUE(window_->action("Reply1")->isEnabled());
  AnswerCompose(true, [](QPlainTextEdit& memo) {
    // Whatever the user makes of the "To: " line, the reply goes to the sender shown.
    memo.setPlainText(memo.toPlainText().replace("To: Some One <box>", "To: elsewhere"));
  });
  desktop_.answerYesNo(true);
  window_->reply();
  const std::string composed = compose_->text();
  EXPECT_NE(composed.find("Subject: Re: Question"), std::string::npos);
  EXPECT_NE(composed.find("Are you there?"), std::string::npos);
  ASSERT_TRUE(Idle());
  EXPECT_EQ(Sent(), "HELO user\r\nMAIL FROM:<me@example.invalid>\r\nRCPT TO:<box>\r\nDATA\r\n" +
                        Stuffed(composed));
}

TEST_F(CommandsTest, AReplyToEncodedMailQuotesTheDecodedTextAndGoesOutDeclared) {
  // Subject and body arrive encoded; the reply quotes what the user read and, holding letters
  // beyond 7-bit, is sent as declared UTF-8 in quoted-printable.
  Pop3(
      {"From: =?UTF-8?Q?Jos=C3=A9?= <box>\r\nSubject: =?UTF-8?B?Q2Fmw6k=?=\r\n"
       "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=UTF-8\r\n"
       "Content-Transfer-Encoding: quoted-printable\r\n\r\nGr=C3=BC=C3=9Fe\r\n"});
  Smtp();
  CheckAndWait();
  Fetch(0);
  AnswerCompose(true);
  desktop_.answerYesNo(true);
  window_->reply();
  const std::string composed = compose_->text();
  EXPECT_NE(composed.find("Subject: Re: Caf\xc3\xa9\r\n"), std::string::npos) << composed;
  EXPECT_NE(composed.find("\r\n=>Gr\xc3\xbc\xc3\x9f"
                          "e\r\n"),
            std::string::npos)
      << composed;
  ASSERT_TRUE(Idle());
  const std::string sent = Sent();
  EXPECT_NE(sent.find("RCPT TO:<box>\r\n"), std::string::npos);
  EXPECT_NE(sent.find("charset=UTF-8"), std::string::npos) << sent;
  EXPECT_NE(sent.find("Content-Transfer-Encoding: quoted-printable"), std::string::npos);
  EXPECT_NE(sent.find("\r\n=3D>Gr=C3=BC=C3=9Fe\r\n"), std::string::npos) << sent;
  for (unsigned char c : sent) EXPECT_LT(c, 0x80) << "8-bit byte on the wire";
}

TEST_F(CommandsTest, ACertificateQuestionFromTheEngineReachesTheUser) {
  tQrCertificate certificate;
  certificate.Server = "127.0.0.1";
  certificate.Subject = "CN=my own server";
  desktop_.answerChoice(1);  // once
  tQrTrust answer = trNo;
  TQuorrel& e = window_->engine();
  ASSERT_TRUE(e.OnTrustCertificate);
  e.OnTrustCertificate(&e, certificate, answer);
  EXPECT_EQ(answer, trOnce);
  ASSERT_EQ(desktop_.asked().size(), 1u);
  EXPECT_TRUE(desktop_.asked()[0].text.contains("CN=my own server"));
}

TEST_F(CommandsTest, SaveAsWritesTheSelectedTabsOwnMessage) {
  Pop3({"Subject: one\r\n\r\nfirst\nbare LF\r\n", "Subject: two\r\n\r\nsecond\r\n",
        "Subject: three\r\n\r\nthird\r\n"});
  CheckAndWait();
  Fetch(0);
  const std::string first = *window_->presenter().selectedText();
  Fetch(1);  // the engine now holds message 2
  window_->tabs().setCurrentIndex(2);
  EXPECT_FALSE(window_->action("Saveas1")->isEnabled());  // not retrieved
  window_->tabs().setCurrentIndex(0);
  ASSERT_TRUE(window_->action("Saveas1")->isEnabled());

  const fs::path file = dir_ / "saved.eml";
  desktop_.answerSaveFile(QString::fromStdString(file.string()));
  window_->saveAs();
  EXPECT_EQ(FileText(file), EmlFileBytes(first));
  EXPECT_EQ(FileText(file), "Subject: one\r\n\r\nfirst\r\nbare LF\r\n");
  ASSERT_EQ(desktop_.saveRequests().size(), 1u);
  const SaveFileRequest& sd1 = desktop_.saveRequests()[0];
  EXPECT_EQ(sd1.title, "Save Message As File");
  EXPECT_EQ(sd1.filters,
            (QStringList{"Microsoft Internet Mail Message (*.eml)", "Text File (*.txt)"}));
  EXPECT_EQ(sd1.filter_index, 0);
  EXPECT_EQ(sd1.default_suffix, "txt");

  desktop_.answerSaveFile(std::nullopt);  // cancelled: nothing happens
  window_->saveAs();
}

TEST_F(CommandsTest, SaveAsIntoAFolderItCannotWriteShowsWhyAndLeavesNoFile) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
  Pop3({"Subject: one\r\n\r\nfirst\r\n"});
  CheckAndWait();
  Fetch(0);
  const fs::path locked = dir_ / "locked";
  fs::create_directory(locked);
  fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
  desktop_.answerSaveFile(QString::fromStdString((locked / "saved.eml").string()));
  window_->saveAs();
  fs::permissions(locked, fs::perms::owner_all);
  EXPECT_TRUE(fs::is_empty(locked));
  ASSERT_EQ(desktop_.asked().size(), 2u);
  EXPECT_EQ(desktop_.asked()[1].kind, testing::ScriptedDesktop::Kind::kMessage);
  EXPECT_TRUE(desktop_.asked()[1].text.contains("saved.eml"));
}

TEST_F(CommandsTest, SaveAsOverAFileInAFullFolderKeepsTheOldFile) {
  // A name in a folder that is a file: the temporary file beside it cannot be made.
  Pop3({"Subject: one\r\n\r\nfirst\r\n"});
  CheckAndWait();
  Fetch(0);
  const fs::path not_a_folder = dir_ / "plain";
  std::ofstream(not_a_folder) << "old";
  desktop_.answerSaveFile(QString::fromStdString((not_a_folder / "saved.eml").string()));
  window_->saveAs();
  EXPECT_EQ(FileText(not_a_folder), "old");
  EXPECT_EQ(desktop_.asked().back().kind, testing::ScriptedDesktop::Kind::kMessage);
}

TEST_F(CommandsTest, DeleteRemovesTheMessageTheUserSawOrNothing) {
  const std::vector<std::string> box = {"Subject: one\r\n\r\n1\r\n", "Subject: two\r\n\r\n2\r\n",
                                        "Subject: three\r\n\r\n3\r\n"};
  struct Case {
    const char* what;
    bool yes;
    bool changed_meanwhile;
    std::vector<std::string> left;
  };
  const Case cases[] = {
      {"No at the question", false, false, {box[0], box[1], box[2]}},
      {"unchanged mailbox", true, false, {box[0], box[2]}},
      {"message 1 deleted elsewhere", true, true, {box[1], box[2]}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MailServer& server = Pop3(box);
    CheckAndWait();
    Fetch(1);  // the user reads message 2 and deletes it
    if (c.changed_meanwhile) server.RemoveMessage(0);
    desktop_.answerYesNo(c.yes);
    const std::size_t asked = desktop_.asked().size();
    window_->deleteSelected();
    ASSERT_TRUE(Idle());
    EXPECT_EQ(server.MailboxCount(), c.left.size());
    for (std::size_t i = 0; i < c.left.size(); ++i) EXPECT_EQ(server.MessageText(i), c.left[i]);
    if (c.changed_meanwhile) {
      for (std::size_t i = 0; i < server.Connections(); ++i) {
        EXPECT_EQ(server.Received(i).find("DELE"), std::string::npos);
      }
      ASSERT_EQ(desktop_.asked().size(), asked + 2);  // the question, then why nothing happened
      EXPECT_TRUE(desktop_.asked().back().text.startsWith("The message was not deleted"));
    }
    EXPECT_EQ(window_->tabs().count(), static_cast<int>(c.left.size()));  // the check followed
  }
}

TEST_F(CommandsTest, ExitClosesAtOnceOrAfterYes) {
  struct Case {
    bool prompt;
    std::vector<bool> answers;
    int exits;
    bool closed;
  };
  const Case cases[] = {
      {false, {}, 1, true}, {true, {false, false}, 2, false}, {true, {false, true}, 2, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.prompt << " " << c.answers.size());
    TearDown();  // a fresh window and store per case
    SetUp();
    SetSwitch("CB4", c.prompt);
    QSignalSpy closed(window_.get(), &MainWindow::closed);
    window_->show();
    const qsizetype asked_before = desktop_.questions().count("Are you sure you want to quit?");
    for (bool a : c.answers) desktop_.answerYesNo(a);
    for (int i = 0; i < c.exits; ++i) window_->action(i % 2 ? "Exit1" : "Exit2")->trigger();
    EXPECT_EQ(closed.size(), c.closed ? 1 : 0);
    EXPECT_EQ(window_->quitting(), c.closed);
    EXPECT_EQ(window_->isVisible(), !c.closed);
    EXPECT_EQ(desktop_.questions().count("Are you sure you want to quit?") - asked_before,
              static_cast<qsizetype>(c.answers.size()));
  }
}

TEST_F(CommandsTest, ASecondExitWhileTheQuestionIsOpenDoesNothing) {
  SetSwitch("CB4", true);
  QSignalSpy closed(window_.get(), &MainWindow::closed);
  desktop_.while_asking = [this] { window_->action("Exit1")->trigger(); };
  desktop_.answerYesNo(true);
  window_->action("Exit2")->trigger();
  EXPECT_EQ(desktop_.questions().count("Are you sure you want to quit?"), 1);
  EXPECT_EQ(closed.size(), 1);
}

TEST_F(CommandsTest, TheCloseButtonOnlyHidesAndTheSessionEndCloses) {
  QSignalSpy closed(window_.get(), &MainWindow::closed);
  window_->show();
  EXPECT_FALSE(window_->close());
  EXPECT_FALSE(window_->isVisible());
  EXPECT_TRUE(window_->tray().InTray());
  EXPECT_EQ(closed.size(), 0);

  window_->action("Hide1")->trigger();
  tray_->Mouse(TrayMouse::kLeftUp);  // the tray click brings it back
  EXPECT_TRUE(window_->isVisible());

  SetSwitch("CB4", true);  // no question at a session end
  QFont chosen("DejaVu Serif");
  chosen.setPointSize(15);
  window_->setBaseFont(chosen);
  EXPECT_TRUE(window_->endSession());
  EXPECT_EQ(closed.size(), 1);
  EXPECT_FALSE(window_->isVisible());
  EXPECT_EQ(ReadRegString("PELLORY\\BaseFont", "Name", ""), "DejaVu Serif");
  EXPECT_EQ(ReadRegInteger("PELLORY\\BaseFont", "Size", 0), 15);
  EXPECT_TRUE(desktop_.asked().empty());
}

TEST_F(CommandsTest, ActiveFollowsTheEngineAndCheckNowWorksWithoutIt) {
  MailServer& server = Pop3({"Subject: one\r\n\r\n1\r\n"});
  window_->engine().SetCheckActive(true);
  emit window_->trayMenu()->aboutToShow();  // PM1Popup
  EXPECT_TRUE(window_->action("Active1")->isChecked());
  window_->action("Active1")->trigger();
  EXPECT_FALSE(window_->action("Active1")->isChecked());
  EXPECT_FALSE(window_->engine().CheckActive());
  window_->action("Checknow1")->trigger();
  ASSERT_TRUE(Idle());
  window_->action("CheckNow2")->trigger();
  ASSERT_TRUE(Idle());
  EXPECT_EQ(window_->presenter().checkCount(), 2);
  EXPECT_EQ(server.Connections(), 2u);
}

TEST_F(CommandsTest, FontAndSettingsGoThroughTheSeam) {
  QFont chosen("DejaVu Sans Mono");
  chosen.setPointSize(12);
  desktop_.answerFont(chosen);
  desktop_.answerFont(std::nullopt);
  window_->action("Font1")->trigger();
  window_->action("Font1")->trigger();  // cancelled: kept
  EXPECT_EQ(window_->baseFont().family(), "DejaVu Sans Mono");
  EXPECT_EQ(compose_->textArea().font().family(), "DejaVu Sans Mono");

  for (const char* item : {"Settings2", "Settings1"}) {
    desktop_.onModal([](QDialog& dialog) {
      EXPECT_EQ(dialog.objectName(), "Form2");
      return QDialog::Rejected;
    });
    window_->action(item)->trigger();
  }
  EXPECT_EQ(desktop_.questions().count("Form2"), 2);
}

}  // namespace
}  // namespace dovrik
