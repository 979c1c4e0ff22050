// The main window as built: its widgets, menus, tray and font, and what it shows of a mailbox on
// the test mail server. Offscreen, with its own settings store.
#include "ui/main_window.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTest>
#include <algorithm>

#include "components/lc_date.h"
#include "components/rx_tray.h"
#include "desktop/font_registry.h"
#include "desktop/long_date_text.h"
#include "engine/quorrel.h"
#include "platform/message_queue.h"
#include "settings/registry.h"
#include "tests/components/recording_tray.h"
#include "tests/settings/isolated_store.h"
#include "tests/ui/scripted_desktop.h"
#include "tools/mailserver/mail_server.h"
#include "ui/compose_window.h"
#include "ui/desktop.h"
#include "ui/message_tab_bar.h"
#include "ui/password_prompt.h"
#include "ui/settings_window.h"
#include "ui/status_panels.h"

namespace dovrik {
namespace {

using tools::MailBehaviour;
using tools::MailServer;

class MainWindowTest : public testing::IsolatedStore {
 protected:
  void SetUp() override {
    IsolatedStore::SetUp();
    platform::SetMainThread();
  }
  void TearDown() override {
    window_.reset();
    IsolatedStore::TearDown();
  }
  MainWindow& Open() {
    window_.reset();  // one main window at a time, as in the program
    auto tray = std::make_unique<testing::RecordingTray>();
    tray_ = tray.get();
    window_ = std::make_unique<MainWindow>(desktop_, nullptr, std::move(tray));
    window_->setOptions({.popup_on_new_message = [this] { return popup_; },
                         .auto_get_message = [this] { return auto_get_; },
                         .log_enabled = [] { return false; },
                         .confirm_password = [] {},
                         .time_text = nullptr});
    window_->setPasswordAsker([](std::string& pass) {
      pass = "secret";
      return true;
    });
    return *window_;
  }
  void Serve(std::vector<std::string> messages) {
    MailBehaviour b;
    b.messages = std::move(messages);
    server_ = std::make_unique<MailServer>(b);
    window_->engine().SetInServer("127.0.0.1");
    window_->engine().SetUserName("user");
    window_->engine().SetInPort(std::to_string(server_->Port()));
  }
  bool Idle() {
    return QTest::qWaitFor([&] { return window_->presenter().runningActions().empty(); }, 5000);
  }
  QLabel* Label(const char* name) { return window_->findChild<QLabel*>(name); }

  testing::ScriptedDesktop desktop_;
  testing::RecordingTray* tray_ = nullptr;
  std::unique_ptr<MailServer> server_;
  std::unique_ptr<MainWindow> window_;
  bool popup_ = false;
  bool auto_get_ = true;
};

TEST_F(MainWindowTest, IsBuiltAsDesigned) {
  MainWindow& w = Open();
  EXPECT_EQ(w.objectName(), "Form1");
  EXPECT_EQ(w.windowTitle(), "Pellory");
  EXPECT_EQ(w.size(), QSize(431, 294));
  EXPECT_FALSE(w.windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_TRUE(w.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(w.windowFlags() & Qt::WindowSystemMenuHint);
  EXPECT_FALSE(w.isVisible());
  EXPECT_EQ(w.property("dovrikInstanceMarker").toUInt(), kInstanceMarker);

  EXPECT_EQ(w.tabs().objectName(), "TC1");
  EXPECT_EQ(w.tabs().count(), 0);
  EXPECT_EQ(w.textView().objectName(), "Memo2");
  EXPECT_TRUE(w.textView().isReadOnly());
  EXPECT_EQ(w.textView().lineWrapMode(), QPlainTextEdit::NoWrap);
  EXPECT_EQ(w.textView().toPlainText(), "<no messages>");
  EXPECT_EQ(w.headerPanel().objectName(), "Panel3");
  EXPECT_TRUE(w.headerPanel().isHidden());
  const std::pair<const char*, const char*> captions[] = {
      {"LFromC", "FROM:"}, {"LToC", "TO:"}, {"LSubjectC", "SUBJECT:"}, {"LDateC", "DATE:"}};
  for (auto [name, caption] : captions) {
    ASSERT_NE(Label(name), nullptr) << name;
    EXPECT_EQ(Label(name)->text(), caption);
  }
  for (const char* name : {"LFrom", "LTo", "LSubject", "LDate", "Image1"}) {
    EXPECT_NE(Label(name), nullptr) << name;
  }
  EXPECT_TRUE(Label("LFrom")->font().bold());
  EXPECT_TRUE(Label("Image1")->isHidden());

  EXPECT_EQ(w.statusBar()->objectName(), "SB1");
  const int lefts[] = {0, 150, 250, 400};
  const char* panel_texts[] = {"not checked yet", "", "", ""};
  w.resize(600, 294);  // room for all four
  w.show();
  for (int i = 0; i < 4; ++i) {
    QLabel* panel = w.findChild<QLabel*>(QString("SB1Panel%1").arg(i));
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->x(), lefts[i]);
    EXPECT_EQ(panel->text(), panel_texts[i]);
  }
  w.hide();

  // Engine as designed, until the settings window applies the stored settings.
  TQuorrel& e = w.engine();
  EXPECT_EQ(e.UserName(), "SomeUser");
  EXPECT_EQ(e.InPort(), "pop3");
  EXPECT_EQ(e.OutPort(), "smtp");
  EXPECT_EQ(e.CheckEvery(), 10);
  EXPECT_EQ(e.TimeOut(), 10);
  EXPECT_FALSE(e.CheckActive());

  // Tray: in the tray from the start with the application's icon and its first hint.
  EXPECT_TRUE(w.tray().InTray());
  EXPECT_EQ(w.tray().Hint(), "Not checked yet");
  EXPECT_EQ(w.tray().PopupMenu(), w.trayMenu());
  auto added = std::find_if(tray_->calls.begin(), tray_->calls.end(),
                            [](const auto& c) { return c.kind == testing::TrayCall::kAdd; });
  ASSERT_NE(added, tray_->calls.end());
  EXPECT_EQ(added->tip, "Not checked yet");
  EXPECT_EQ(added->icon, w.tray().Icon().cacheKey());
  EXPECT_FALSE(w.tray().Icon().isNull());

  // The log starts with the credits: name, version and the build date as a long date.
  const QStringList log = w.logLines();
  ASSERT_GE(log.size(), 4);
  const std::string date = LongDateText(TLCDate::WithBuildDate().LCDate());
  EXPECT_EQ(log[0], QString("Dovrik %1 (%2)").arg(DOVRIK_TEST_VERSION, date.c_str()));
  EXPECT_EQ(log[1], "");
  EXPECT_TRUE(log.join('\n').contains("TWSocket"));
  EXPECT_TRUE(log.join('\n').contains("TRxTray"));
}

// A status text is shown whole: a panel too narrow for it widens and moves the ones after it; a
// text that fits leaves the given widths as they are.
TEST(StatusPanelsTest, APanelIsAsWideAsItsText) {
  StatusPanels panels({150, 100, 150});
  panels.resize(2000, 20);
  panels.show();
  // The given widths hold for short texts; the summary cut at "message(" on a desktop font
  // and a longer one widen the first panel.
  struct Case {
    QString text;
    bool keeps_width;
  };
  const Case cases[] = {
      {"", true},
      {"3 bytes", true},
      {"6237 bytes in 3 message(s)", false},
      {"123456789012 bytes in 4294967295 message(s), and then some more", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.toStdString());
    panels.setText(0, c.text);
    QLabel* first = panels.panel(0);
    EXPECT_EQ(first->text(), c.text);
    EXPECT_GE(first->contentsRect().width(), first->fontMetrics().horizontalAdvance(c.text));
    EXPECT_GT(panels.panel(1)->x(), first->geometry().right());
    if (c.keeps_width) {
      EXPECT_EQ(panels.panel(1)->x(), 150);
    }
    EXPECT_EQ(panels.panel(2)->x() - panels.panel(1)->x(), 100);
  }
}

TEST_F(MainWindowTest, MenusCarryTheirNamesCaptionsAndFirstStates) {
  MainWindow& w = Open();
  struct Item {
    const char* name;
    const char* caption;
    bool enabled;
  };
  const Item items[] = {
      {"CheckNow2", "&Check Now", true},
      {"Else1", "&More", true},
      {"Settings2", "&Settings", true},
      {"GetMessage1", "&Get Message", false},
      {"Reply1", "&Reply", false},
      {"Saveas1", "Sa&ve as...", false},
      {"Delete1", "&Delete", false},
      {"Abort1", "&Abort", false},
      {"Newmessage1", "&New message", true},
      {"Font1", "&Font", true},
      {"Hide1", "&Hide", true},
      {"Exit2", "&Destroy", true},
      {"Active1", "Active", true},
      {"Checknow1", "Check now", true},
      {"Settings1", "Settings", true},
      {"Exit1", "Exit", true},
  };
  for (const Item& item : items) {
    QAction* a = w.action(item.name);
    ASSERT_NE(a, nullptr) << item.name;
    EXPECT_EQ(a->objectName(), item.name);
    EXPECT_EQ(a->text(), item.caption) << item.name;
    EXPECT_EQ(a->isEnabled(), item.enabled) << item.name;
  }
  EXPECT_EQ(w.menuBar()->objectName(), "MM1");
  QStringList bar;
  for (QAction* a : w.menuBar()->actions()) bar << a->objectName();
  EXPECT_EQ(bar, (QStringList{"CheckNow2", "Else1", "Hide1", "Exit2"}));
  QStringList more;
  for (QAction* a : w.action("Else1")->menu()->actions()) more << a->objectName();
  EXPECT_EQ(more, (QStringList{"Settings2", "N3", "GetMessage1", "Reply1", "Saveas1", "Delete1",
                               "Abort1", "N4", "Newmessage1", "N5", "Font1"}));
  QStringList tray;
  for (QAction* a : w.trayMenu()->actions()) tray << a->objectName();
  EXPECT_EQ(w.trayMenu()->objectName(), "PM1");
  EXPECT_EQ(tray, (QStringList{"Active1", "N2", "Checknow1", "Settings1", "N1", "Exit1"}));
  EXPECT_TRUE(w.action("Active1")->isCheckable());
}

TEST_F(MainWindowTest, BaseFontIsLoadedAtCreationAndSavedAtDestruction) {
  WriteRegString("PELLORY\\BaseFont", "Name", "DejaVu Serif");
  WriteRegInteger("PELLORY\\BaseFont", "Size", 13);
  WriteRegString("PELLORY\\BaseFont", "Style", "0e00");
  MainWindow& w = Open();
  EXPECT_EQ(w.baseFont().family(), "DejaVu Serif");
  EXPECT_EQ(w.baseFont().pointSize(), 13);
  EXPECT_TRUE(w.baseFont().italic());
  w.show();  // showing applies it
  EXPECT_EQ(w.textView().font().family(), "DejaVu Serif");
  EXPECT_EQ(Label("LSubject")->font().pointSize(), 13);
  EXPECT_FALSE(Label("LFrom")->font().italic());

  QFont chosen("DejaVu Sans Mono");
  chosen.setPointSize(11);
  chosen.setBold(true);
  w.setBaseFont(chosen);
  EXPECT_EQ(w.textView().font().family(), "DejaVu Sans Mono");
  EXPECT_EQ(ReadRegString("PELLORY\\BaseFont", "Name", ""),
            "DejaVu Serif");  // saved only at the end
  window_.reset();
  EXPECT_EQ(ReadRegString("PELLORY\\BaseFont", "Name", ""), "DejaVu Sans Mono");
  EXPECT_EQ(ReadRegInteger("PELLORY\\BaseFont", "Size", 0), 11);
  EXPECT_EQ(ReadRegString("PELLORY\\BaseFont", "Style", ""), "V000");
}

TEST_F(MainWindowTest, PasswordRequestsGoToTheAskerOrGetNothing) {
  struct Case {
    bool with_asker;
    bool answers;
    bool succeeds;
  };
  auto_get_ = false;  // one request per case: the check's
  for (const Case c :
       {Case{false, false, false}, Case{true, false, false}, Case{true, true, true}}) {
    SCOPED_TRACE(::testing::Message() << c.with_asker << c.answers);
    MainWindow& w = Open();
    int asked = 0;
    w.setPasswordAsker(!c.with_asker ? std::function<bool(std::string&)>()
                                     : [&](std::string& pass) {
                                         ++asked;
                                         if (c.answers) pass = "secret";
                                         return c.answers;
                                       });
    Serve({"Subject: x\r\n\r\nx\r\n"});
    w.checkNow();
    ASSERT_TRUE(Idle());
    EXPECT_EQ(asked, c.with_asker ? 1 : 0);
    EXPECT_EQ(w.tray().Hint(), c.succeeds ? "17 bytes in 1 message(s)" : "Error!");
    EXPECT_EQ(server_->Received(0).find("PASS secret\r\n") != std::string::npos, c.succeeds);
  }
}

TEST_F(MainWindowTest, TheOtherWindowsAreWiredIn) {
  MainWindow& w = Open();
  SettingsWindow settings(w.link(), desktop_);
  PasswordPrompt prompt(desktop_, [&] { return settings.timeoutText(); });
  ComposeWindow compose(desktop_, [&] { return settings.senderText(); });
  w.connectWindows(&settings, &prompt, &compose);
  settings.findChild<QCheckBox*>("CB1")->setChecked(true);   // pop-up on new mail
  settings.findChild<QCheckBox*>("CB2")->setChecked(false);  // no automatic fetch
  Serve({"Subject: x\r\n\r\nx\r\n"});
  desktop_.onModal([](QDialog& dialog) {
    EXPECT_EQ(dialog.objectName(), "Form4");
    dialog.findChild<QLineEdit*>("Edit1")->setText("secret");
    return QDialog::Accepted;
  });
  w.checkNow();
  ASSERT_TRUE(Idle());
  EXPECT_EQ(w.tray().Hint(), "17 bytes in 1 message(s)");
  EXPECT_TRUE(prompt.passConfirmed());  // the successful check confirmed the typed password
  EXPECT_TRUE(w.isVisible());           // CB1 read live
  EXPECT_EQ(w.textView().toPlainText(), kClickGetText);  // CB2 read live
  EXPECT_TRUE(w.action("GetMessage1")->isEnabled());
  EXPECT_EQ(compose.textArea().font(), w.baseFont());
  EXPECT_EQ(w.link().log_lines(), w.logLines());

  ASSERT_TRUE(w.getSelected());  // no prompt now: the confirmed password is given
  ASSERT_TRUE(Idle());
  EXPECT_EQ(w.textView().toPlainText(), "x\n");
  settings.on_identity_changed();
  EXPECT_FALSE(prompt.passConfirmed());
  w.connectWindows(nullptr, nullptr, nullptr);
}

TEST_F(MainWindowTest, ShowsTheTabsAndARetrievedMessage) {
  popup_ = true;
  MainWindow& w = Open();
  Serve(
      {"From: Some One <box@example.invalid>\r\nTo: me@example.invalid\r\n"
       "Subject: Lunch on Friday\r\nDate: Fri, 9 Jan 2026 11:30:00 +0100\r\n\r\n"
       "Hello,\r\n\r\nshall we meet at noon?\r\n\r\nSome One\r\n",
       "Subject: two\r\n\r\n2\r\n", "Subject: three\r\n\r\n3\r\n"});
  w.checkNow();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !w.headerPanel().isHidden(); }, 5000));
  ASSERT_TRUE(Idle());
  EXPECT_TRUE(w.isVisible());  // popped up: mail waits and pop-up is on
  EXPECT_EQ(w.tabs().count(), 3);
  EXPECT_EQ(w.tabs().currentIndex(), 0);
  EXPECT_EQ(w.textView().toPlainText(), "Hello,\n\nshall we meet at noon?\n\nSome One\n");
  EXPECT_EQ(w.headerText("LFrom"), "Some One <box@example.invalid>");
  // Shown between isolates (U+2068 .. U+2069); a screen reader reads the value itself.
  EXPECT_EQ(Label("LFrom")->text(), u"\u2068Some One <box@example.invalid>\u2069");
  EXPECT_EQ(Label("LFrom")->accessibleName(), "Some One <box@example.invalid>");
  EXPECT_EQ(w.headerText("LTo"), "me@example.invalid");
  EXPECT_EQ(w.headerText("LSubject"), "Lunch on Friday");
  EXPECT_EQ(w.headerText("LDate"), "Fri, 9 Jan 2026 11:30:00 +0100");
  EXPECT_FALSE(w.action("GetMessage1")->isEnabled());
  EXPECT_TRUE(w.action("Reply1")->isEnabled());
  EXPECT_TRUE(w.action("Saveas1")->isEnabled());
  EXPECT_TRUE(w.action("Delete1")->isEnabled());
  EXPECT_FALSE(w.action("Abort1")->isEnabled());
  const QString summary = QString::fromStdString(w.presenter().screen().status[0]);
  EXPECT_EQ(w.findChild<QLabel*>("SB1Panel0")->text(), summary);
  EXPECT_EQ(w.findChild<QLabel*>("SB1Panel1")->text(), "Checked 1 times");
  EXPECT_EQ(w.statusBar()->toolTip(), summary);
  EXPECT_EQ(w.tray().Hint(), summary);
  const qint64 new_mail = w.tray().Icon().cacheKey();
  EXPECT_EQ(tray_->calls.back().icon, new_mail);

  w.resize(431, 294);
  QTest::qWait(0);  // let the layout settle before the picture
  const QString dir = DOVRIK_ARTEFACTS_DIR;
  QDir().mkpath(dir);
  ASSERT_TRUE(w.grab().save(dir + "/main_window.png"));

  // Choosing another tab (here with the keyboard from the text view) fetches and shows it.
  w.activateWindow();
  w.textView().setFocus();
  QTest::keyClick(&w.textView(), Qt::Key_PageDown, Qt::ControlModifier);
  if (w.tabs().currentIndex() != 1) w.tabs().setCurrentIndex(1);  // no active window offscreen
  ASSERT_TRUE(QTest::qWaitFor([&] { return w.textView().toPlainText() == "2\n"; }, 5000));
  EXPECT_EQ(w.headerText("LSubject"), "two");
}

TEST_F(MainWindowTest, HeaderValuesCannotReorderTheirLineAndAreReadWhole) {
  const std::string long_subject = "A subject far too long for the header panel, " +
                                   std::string(40, 'x') + " and still it goes on to the end";
  const std::string hebrew =
      "\xd7\xa9\xd7\x9c\xd7\x95\xd7\x9d \xe2\x80\x8f(2)";  // "shalom (2)", RLM
  MainWindow& w = Open();
  w.show();
  w.resize(431, 294);
  Serve({"From: =?UTF-8?Q?Bob_=E2=80=AEfdp.exe?= <bob@example.invalid>\r\nTo: " + hebrew +
         " <h@example.invalid>\r\nSubject: " + long_subject +
         "\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n"
         "--b\r\nContent-Type: text/plain\r\n\r\nsee attached\r\n"
         "--b\r\nContent-Type: application/octet-stream; name=\"invoice\xe2\x80\xae"
         "fdp.exe\"\r\n"
         "Content-Disposition: attachment\r\n\r\nab\r\n--b--\r\n"});
  w.checkNow();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !w.headerPanel().isHidden(); }, 5000));
  ASSERT_TRUE(Idle());

  // The override opened by the name is closed inside the isolate: the address stays put.
  EXPECT_EQ(Label("LFrom")->text(), u"\u2068Bob \u202efdp.exe <bob@example.invalid>\u202c\u2069");
  EXPECT_EQ(w.headerText("LFrom"), QString::fromUtf8("Bob \xe2\x80\xae"
                                                     "fdp.exe <bob@example.invalid>"));
  // A right-to-left value keeps its own mark, and the isolate takes its direction.
  const QString to = QString::fromUtf8(hebrew + " <h@example.invalid>");
  EXPECT_EQ(Label("LTo")->text(), QChar(0x2068) + to + QChar(0x2069));
  // ...and looks exactly as it did without the isolates.
  QLabel bare(to, Label("LTo")->parentWidget());
  bare.setTextFormat(Qt::PlainText);
  bare.setTextInteractionFlags(Label("LTo")->textInteractionFlags());
  bare.setFont(Label("LTo")->font());
  bare.setGeometry(Label("LTo")->geometry());
  EXPECT_EQ(bare.grab().toImage(), Label("LTo")->grab().toImage());

  // Cut with "..." for the eye, read whole by a screen reader.
  const QString subject = Label("LSubject")->text();
  EXPECT_TRUE(subject.endsWith(QString(QChar(0x2026)) + QChar(0x2069))) << subject.toStdString();
  EXPECT_EQ(Label("LSubject")->accessibleName(), QString::fromStdString(long_subject));

  // Attachment names show their direction controls written out.
  EXPECT_TRUE(w.textView().toPlainText().contains("invoice<U+202E>fdp.exe"))
      << w.textView().toPlainText().toStdString();
}

TEST_F(MainWindowTest, HostileMessagesShowWithoutHarm) {
  const std::string long_line(100000, 'w');
  const std::string bad_utf8 = "caf\xe9 \xff\xfe";
  const std::string with_nul = std::string("before") + '\0' + "after";
  MainWindow& w = Open();
  w.show();
  Serve({"Subject: " + bad_utf8 + "\r\nFrom: " + long_line + "\r\n\r\n" + with_nul + "\r\n",
         "Subject: " + long_line + "\r\n\r\n" + long_line + "\r\n" + bad_utf8 + "\r\n"});
  w.checkNow();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !w.headerPanel().isHidden(); }, 5000));
  EXPECT_EQ(w.headerText("LSubject"), QString::fromLatin1("caf\xe9 \xff\xfe"));
  EXPECT_LE(w.headerText("LFrom").size(), 1000);  // cut for a one-line label
  EXPECT_LE(Label("LFrom")->text().size(), 1000);
  EXPECT_EQ(w.textView().toPlainText(), QString::fromUtf8("before\0after\n", 13));

  w.tabs().setCurrentIndex(1);
  ASSERT_TRUE(QTest::qWaitFor([&] { return w.textView().toPlainText().size() > 100000; }, 5000));
  // The long line is shown in pieces, all of it; the message keeps it whole.
  const QString shown = w.textView().toPlainText();
  EXPECT_EQ(shown.count('w'), 100000);
  EXPECT_EQ(shown.section('\n', 0, 0), QString(2000, 'w'));
  EXPECT_TRUE(
      shown.endsWith(QString(2000, 'w') + "\n" + QString::fromLatin1("caf\xe9 \xff\xfe\n")));
  EXPECT_NE(w.presenter().selectedText()->find(long_line + "\r\n"), std::string::npos);
  ASSERT_TRUE(Idle());
}

TEST_F(MainWindowTest, DestroyingTheWindowWhileActionsRunIsSafe) {
  MainWindow& w = Open();
  Serve({"Subject: x\r\n\r\nx\r\n"});
  w.checkNow();
  EXPECT_FALSE(w.presenter().runningActions().empty());
  window_.reset();  // the engine asks the session to stop; nothing reaches the dead window
  // Nothing serves the queue without the window: a session's last report waits there unread.
  EXPECT_TRUE(QTest::qWaitFor(
      [&] {
        platform::PumpMessages();
        return server_->WaitClosed(1, std::chrono::milliseconds(0));
      },
      5000));
}

}  // namespace
}  // namespace dovrik
