#include "ui/settings_window.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <memory>

#include "engine/quorrel.h"
#include "engine/text_lines.h"
#include "model/registry_layout.h"
#include "model/security_choice.h"
#include "platform/message_queue.h"
#include "settings/registry.h"
#include "settings/security_settings.h"
#include "tests/settings/isolated_store.h"
#include "tests/ui/screenshot.h"
#include "tests/ui/scripted_desktop.h"
#include "ui/password_prompt.h"

namespace dovrik {
namespace {

using namespace std::string_literals;
using testing::ScriptedDesktop;

constexpr const char* kNone = "<none>";

// A stored text with every line set apart from the defaults.
const std::string kStored =
    "127.0.0.2\r\n1110\r\nanna\r\nNoMorePass\r\n60\r\n15\r\n0\r\n127.0.0.3\r\n2525\r\n0\r\n1\r\n0"
    "\r\nAnna <anna@localhost>";

class SettingsWindowTest : public testing::IsolatedStore {
 protected:
  void SetUp() override {
    IsolatedStore::SetUp();
    platform::SetMainThread();
    engine_ = std::make_unique<TQuorrel>();
    window_ = std::make_unique<SettingsWindow>(
        MainWindowLink{engine_.get(), [this] { ++checks_; }, [this] { return log_; }}, desktop_);
  }
  void TearDown() override {
    window_.reset();
    engine_.reset();
    IsolatedStore::TearDown();
  }

  QLineEdit& edit(const char* name) { return *find<QLineEdit>(name); }
  QCheckBox& box(const char* name) { return *find<QCheckBox>(name); }
  QPushButton& button(const char* name) { return *find<QPushButton>(name); }
  template <typename W>
  W* find(const char* name) {
    W* widget = window_->findChild<W*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  void setAllSwitches(bool on) {
    for (const char* name : {"CB1", "CB2", "CB3", "CB4"}) box(name).setChecked(on);
  }
  std::string stored(const char* value = "Settings") {
    return ReadRegString(kProgramKey, value, kNone);
  }
  QComboBox& list(const char* name) { return *find<QComboBox>(name); }
  // Picks a security choice as the user does (the list reports the pick as activated).
  void pick(const char* name, SecurityMode mode) {
    QComboBox& box = list(name);
    const int index = box.findData(static_cast<int>(mode));
    ASSERT_GE(index, 0);
    box.setCurrentIndex(index);
    emit box.activated(index);
  }
  void store(const std::string& text) { WriteRegString(kProgramKey, "Settings", text); }

  // The fields and the engine as they are after a restore of nothing.
  void expectDefaults() {
    const std::pair<const char*, QString> fields[] = {
        {"Edit1", "127.0.0.1"},    {"Edit4", "pop3"}, {"Edit7", "127.0.0.1"}, {"Edit8", "smtp"},
        {"Edit9", kDefaultSender}, {"Edit2", "User"}, {"Edit5", "120"},       {"Edit6", "20"},
    };
    for (const auto& [name, text] : fields) EXPECT_EQ(edit(name).text(), text) << name;
    EXPECT_TRUE(box("CB1").isChecked());
    EXPECT_EQ(engine_->InServer(), "127.0.0.1");
    EXPECT_EQ(engine_->InPort(), "pop3");
    EXPECT_EQ(engine_->OutServer(), "127.0.0.1");
    EXPECT_EQ(engine_->OutPort(), "smtp");
    EXPECT_EQ(engine_->UserName(), "User");
    EXPECT_EQ(engine_->CheckEvery(), 120);
    EXPECT_EQ(engine_->TimeOut(), 20);
  }

  ScriptedDesktop desktop_;
  std::unique_ptr<TQuorrel> engine_;
  int checks_ = 0;
  QStringList log_;
  std::unique_ptr<SettingsWindow> window_;
};

TEST_F(SettingsWindowTest, FirstStartShowsTheDefaultsAndSubmitTurnsCheckingOnWithoutSaving) {
  desktop_.onModal([this](QDialog&) {
    expectDefaults();
    for (const char* name : {"CB1", "CB2", "CB3", "CB4"}) EXPECT_TRUE(box(name).isChecked());
    edit("Edit2").setText(QStringLiteral("anna"));
    button("BOK").click();
    return QDialog::Rejected;  // not reached: Submit has closed it
  });
  window_->formCreate();
  EXPECT_TRUE(engine_->CheckActive());
  EXPECT_EQ(checks_, 0);  // the first check follows after the interval
  EXPECT_EQ(engine_->UserName(), "anna");
  EXPECT_EQ(stored(), kNone);
}

TEST_F(SettingsWindowTest, FirstStartClosedAnyOtherWayLeavesCheckingOffButKeepsWhatWasTyped) {
  const std::pair<const char*, std::function<void()>> ways[] = {
      {"close box", [this] { window_->close(); }},
      {"Escape", [this] { QTest::keyClick(window_.get(), Qt::Key_Escape); }},
  };
  for (const auto& [way, act] : ways) {
    desktop_.onModal([&, act = act](QDialog&) {
      edit("Edit1").setText(QStringLiteral("127.0.0.9"));
      edit("Edit9").setText(QStringLiteral("Me <me@localhost>"));
      box("CB4").setChecked(false);
      act();
      EXPECT_FALSE(window_->isVisible()) << way;
      return QDialog::Accepted;  // not reached
    });
    window_->formCreate();
    EXPECT_FALSE(engine_->CheckActive()) << way;
    EXPECT_EQ(engine_->InServer(), "127.0.0.1") << way;  // nothing applied
    EXPECT_EQ(window_->senderText(), "Me <me@localhost>") << way;
    EXPECT_FALSE(window_->promptOnExit()) << way;
    EXPECT_EQ(stored(), kNone) << way;
    box("CB4").setChecked(true);
  }
}

TEST_F(SettingsWindowTest, WithStoredSettingsChecksAtOnceWithoutShowing) {
  store(kStored);
  window_->formCreate();
  EXPECT_TRUE(desktop_.asked().empty());
  EXPECT_TRUE(engine_->CheckActive());
  EXPECT_EQ(checks_, 1);
  EXPECT_EQ(engine_->InServer(), "127.0.0.2");
  EXPECT_EQ(engine_->InPort(), "1110");
  EXPECT_EQ(engine_->UserName(), "anna");
  EXPECT_EQ(engine_->OutServer(), "127.0.0.3");
  EXPECT_EQ(engine_->OutPort(), "2525");
  EXPECT_EQ(engine_->CheckEvery(), 60);
  EXPECT_EQ(engine_->TimeOut(), 15);
  EXPECT_FALSE(window_->popupOnNewMessage());
  EXPECT_FALSE(window_->autoGetMessage());
  EXPECT_TRUE(window_->logEnabled());
  EXPECT_FALSE(window_->promptOnExit());
  EXPECT_EQ(window_->senderText(), "Anna <anna@localhost>");
  EXPECT_EQ(window_->timeoutText(), QStringLiteral("15"));
}

TEST_F(SettingsWindowTest, SubmitShowsTheNumbersInForce) {
  struct Case {
    QString check_every, timeout;
    int in_force_every, in_force_timeout;
  };
  const Case cases[] = {
      {"5", "", 10, 20},          {"abc", " 30 ", 240, 30},
      {"-7", "9", 10, 10},        {"99999999999", "0x20", 240, 20},
      {" 600\t", "+45", 600, 45},
  };
  for (const Case& c : cases) {
    edit("Edit5").setText(c.check_every);
    edit("Edit6").setText(c.timeout);
    button("BOK").click();
    const std::string what = c.check_every.toStdString() + "/" + c.timeout.toStdString();
    EXPECT_EQ(engine_->CheckEvery(), c.in_force_every) << what;
    EXPECT_EQ(engine_->TimeOut(), c.in_force_timeout) << what;
    EXPECT_EQ(edit("Edit5").text(), QString::number(c.in_force_every)) << what;
    EXPECT_EQ(edit("Edit6").text(), QString::number(c.in_force_timeout)) << what;
  }
  EXPECT_EQ(stored(), kNone);
}

TEST_F(SettingsWindowTest, SaveStoresThirteenLinesAsTypedThenShowsTheNumbersInForce) {
  window_->restoreFromRegistry();
  edit("Edit5").setText(QStringLiteral("5"));
  edit("Edit6").setText(QStringLiteral(" 12 "));
  box("CB2").setChecked(false);
  button("BSave").click();
  EXPECT_EQ(stored(),
            "127.0.0.1\r\npop3\r\nUser\r\nNoMorePass\r\n5\r\n 12 \r\n1\r\n127.0.0.1\r\n"
            "smtp\r\n0\r\n1\r\n1\r\n"s +
                kDefaultSender);
  EXPECT_EQ(edit("Edit5").text(), QStringLiteral("10"));
  EXPECT_EQ(edit("Edit6").text(), QStringLiteral("12"));
  EXPECT_EQ(engine_->CheckEvery(), 10);
}

TEST_F(SettingsWindowTest, AnEmptySenderIsSavedAsTwelveLinesAndRestoresTheDefault) {
  window_->restoreFromRegistry();
  edit("Edit2").setText(QStringLiteral("bob"));
  edit("Edit9").clear();
  button("BSave").click();
  EXPECT_EQ(SplitLines(stored()).size(), 12u);
  button("BRestore").click();
  EXPECT_EQ(edit("Edit9").text(), QString::fromLatin1(kDefaultSender));
  EXPECT_EQ(edit("Edit2").text(), QStringLiteral("bob"));
}

TEST_F(SettingsWindowTest, RestoreWithNothingStoredResetsAllButTheLastThreeSwitchesAndApplies) {
  store(kStored);
  window_->restoreFromRegistry();
  ASSERT_EQ(engine_->InServer(), "127.0.0.2");
  WriteRegString(kProgramKey, "Settings", "");
  for (bool switches : {false, true}) {
    setAllSwitches(!switches);
    box("CB2").setChecked(switches);
    box("CB3").setChecked(switches);
    box("CB4").setChecked(switches);
    button("BRestore").click();
    expectDefaults();
    for (const char* name : {"CB2", "CB3", "CB4"}) EXPECT_EQ(box(name).isChecked(), switches);
  }
}

TEST_F(SettingsWindowTest, AShortStoredTextRestoresWhatItHolds) {
  store("127.0.0.5\n995\rcarol\r\n");
  setAllSwitches(false);
  EXPECT_TRUE(window_->restoreFromRegistry());
  EXPECT_EQ(engine_->InServer(), "127.0.0.5");
  EXPECT_EQ(engine_->InPort(), "995");
  EXPECT_EQ(engine_->UserName(), "carol");
  EXPECT_EQ(edit("Edit7").text(), QStringLiteral("127.0.0.1"));
  EXPECT_EQ(edit("Edit5").text(), QStringLiteral("120"));
  EXPECT_EQ(edit("Edit9").text(), QString::fromLatin1(kDefaultSender));
  EXPECT_TRUE(box("CB1").isChecked());
  for (const char* name : {"CB2", "CB3", "CB4"}) EXPECT_FALSE(box(name).isChecked()) << name;
}

TEST_F(SettingsWindowTest, BadStoredValuesRestoreWhatTheyCan) {
  // Invalid UTF-8 and NUL bytes show as Latin-1 and reach the engine without a crash.
  store(
      "\xFF\xFE"
      "host\r\n1\0"
      "10\r\nu\0ser\r\nx\r\n\0\r\n\xC0\r\n"s);
  EXPECT_TRUE(window_->restoreFromRegistry());
  EXPECT_EQ(edit("Edit1").text(), QString::fromLatin1("\xFF\xFEhost"));
  EXPECT_EQ(engine_->InServer(), "\xC3\xBF\xC3\xBEhost");
  EXPECT_EQ(engine_->CheckEvery(), 240);
  EXPECT_EQ(engine_->TimeOut(), 20);
  EXPECT_TRUE(desktop_.asked().empty());

  // A value of the wrong type is reported, and counts as none.
  WriteRegInteger(kProgramKey, "Settings", 7);
  EXPECT_FALSE(window_->restoreFromRegistry());
  ASSERT_EQ(desktop_.asked().size(), 1u);
  EXPECT_EQ(desktop_.asked()[0].kind, ScriptedDesktop::Kind::kMessage);
  expectDefaults();
}

TEST_F(SettingsWindowTest, TheSwitchesSenderAndTimeoutAreReadLive) {
  window_->restoreFromRegistry();
  const std::pair<const char*, bool (SettingsWindow::*)() const> readers[] = {
      {"CB1", &SettingsWindow::popupOnNewMessage},
      {"CB2", &SettingsWindow::autoGetMessage},
      {"CB3", &SettingsWindow::logEnabled},
      {"CB4", &SettingsWindow::promptOnExit},
  };
  for (const auto& [name, reader] : readers) {
    for (bool on : {false, true}) {
      box(name).setChecked(on);
      EXPECT_EQ(((*window_).*reader)(), on) << name;
    }
  }
  edit("Edit9").setText(QStringLiteral("J\u00fcrgen <j@localhost>"));
  edit("Edit6").setText(QStringLiteral(" 7 "));
  EXPECT_EQ(window_->senderText(), "J\xC3\xBCrgen <j@localhost>");
  EXPECT_EQ(window_->timeoutText(), QStringLiteral(" 7 "));
  EXPECT_EQ(engine_->TimeOut(), 20);  // not applied until Submit
}

TEST_F(SettingsWindowTest, TheLogViewIsFilledAtEachShowing) {
  log_ = QStringList{QStringLiteral("Dovrik 0.1"), QString(), QStringLiteral("credits")};
  QPlainTextEdit& memo = *find<QPlainTextEdit>("Memo1");
  desktop_.onModal([&](QDialog&) {
    EXPECT_EQ(memo.toPlainText(), QStringLiteral("Dovrik 0.1\n\ncredits"));
    log_.prepend(QStringLiteral("12:00 :=> new line"));
    EXPECT_EQ(memo.toPlainText(), QStringLiteral("Dovrik 0.1\n\ncredits"));
    return QDialog::Rejected;
  });
  desktop_.runModal(*window_);
  desktop_.onModal([&](QDialog&) {
    EXPECT_EQ(memo.toPlainText(), QStringLiteral("12:00 :=> new line\nDovrik 0.1\n\ncredits"));
    return QDialog::Rejected;
  });
  desktop_.runModal(*window_);
  EXPECT_TRUE(memo.isReadOnly());
}

// The remembered password belongs to one user name and the servers it was given for: encrypted
// outgoing mail logs in with it too.
TEST_F(SettingsWindowTest, ChangingAServerPortEncryptionOrUserForgetsTheConfirmedPassword) {
  PasswordPrompt prompt(desktop_, [this] { return window_->timeoutText(); });
  window_->on_identity_changed = [&prompt] { prompt.forgetPassword(); };
  window_->restoreFromRegistry();
  const std::pair<const char*, bool> fields[] = {
      {"Edit1", true},  {"Edit4", true},       {"Edit2", true},  {"InSecurity", true},
      {"Edit7", true},  {"Edit8", true},       {"Edit9", false}, {"Edit5", false},
      {"Edit6", false}, {"OutSecurity", true},
  };
  for (const auto& [name, forgets] : fields) {
    desktop_.onModal([](QDialog&) { return QDialog::Accepted; });
    std::string pass;
    ASSERT_TRUE(prompt.askPassword(pass));
    prompt.setPassConfirmed(true);
    // Submitting the same values again changes nothing.
    button("BOK").click();
    ASSERT_TRUE(prompt.passConfirmed()) << name;
    if (QComboBox* choice = window_->findChild<QComboBox*>(QString::fromLatin1(name)))
      pick(name, static_cast<SecurityMode>((choice->currentData().toInt() + 1) % 3));
    else
      edit(name).setText(edit(name).text() + QStringLiteral("1"));
    button("BOK").click();
    EXPECT_EQ(prompt.passConfirmed(), !forgets) << name;
    if (!forgets) prompt.forgetPassword();
  }
  // Save and Restore apply too.
  desktop_.onModal([](QDialog&) { return QDialog::Accepted; });
  std::string pass;
  ASSERT_TRUE(prompt.askPassword(pass));
  prompt.setPassConfirmed(true);
  button("BRestore").click();
  EXPECT_FALSE(prompt.passConfirmed());
}

TEST_F(SettingsWindowTest, CarriesTheNamesCaptionsAndTabOrderOfItsControls) {
  EXPECT_EQ(window_->objectName(), QStringLiteral("Form2"));
  EXPECT_EQ(window_->windowTitle(), QStringLiteral("Dovrik settings"));
  // The designed 366 x 347, grown by the rows of the encryption choice.
  EXPECT_EQ(window_->width(), 366);
  EXPECT_GE(window_->height(), 347);
  EXPECT_LE(window_->height(), 347 + 80);
  const std::pair<const char*, QString> edits[] = {
      {"Edit1", "Incoming server"}, {"Edit4", "Incoming port"}, {"Edit7", "Outcoming server"},
      {"Edit8", "Outcoming port"},  {"Edit9", "Your e-mail"},   {"Edit2", "User"},
      {"Edit5", "Check every"},     {"Edit6", "Timeout"},
  };
  for (const auto& [name, caption] : edits) EXPECT_EQ(edit(name).accessibleName(), caption);
  const std::pair<const char*, QString> boxes[] = {
      {"CB1", "&Popup on new message"},
      {"CB2", "&Auto get message"},
      {"CB3", "&Log enabled"},
      {"CB4", "Pr&ompt on exit"},
  };
  for (const auto& [name, caption] : boxes) {
    EXPECT_EQ(box(name).text(), caption);
    EXPECT_EQ(box(name).accessibleName(), QString(caption).remove('&'));
    EXPECT_TRUE(box(name).isChecked()) << name;
  }
  const std::pair<const char*, QString> buttons[] = {
      {"BRestore", "&Restore from registry"},
      {"BSave", "&Save to registry"},
      {"BOK", "S&ubmit"},
  };
  for (const auto& [name, caption] : buttons) {
    EXPECT_EQ(button(name).text(), caption);
    EXPECT_EQ(button(name).accessibleName(), QString(caption).remove('&'));
    EXPECT_TRUE(button(name).isFlat()) << name;
  }
  EXPECT_EQ(button("BOK").toolTip(), QStringLiteral("OK"));
  EXPECT_TRUE(button("BOK").font().bold());

  const std::pair<const char*, QString> lists[] = {{"InSecurity", "Incoming security"},
                                                   {"OutSecurity", "Outgoing security"}};
  for (const auto& [name, caption] : lists) {
    EXPECT_EQ(list(name).accessibleName(), caption);
    ASSERT_EQ(list(name).count(), 3);
    EXPECT_EQ(list(name).itemText(0), QStringLiteral("None"));
    EXPECT_EQ(list(name).itemText(1), QStringLiteral("STARTTLS"));
    EXPECT_EQ(list(name).itemText(2), QStringLiteral("TLS from the first byte"));
  }

  const char* order[] = {"Edit1", "Edit4", "Edit7", "Edit8",      "Edit9",
                         "Edit2", "Edit5", "Edit6", "CB1",        "CB2",
                         "CB3",   "CB4",   "Memo1", "InSecurity", "OutSecurity"};
  // The next control Tab reaches (labels and other widgets without tab focus are skipped).
  auto next_tab_stop = [](QWidget* widget) {
    do widget = widget->nextInFocusChain();
    while (!(widget->focusPolicy() & Qt::TabFocus));
    return widget;
  };
  for (std::size_t i = 1; i < std::size(order); ++i)
    EXPECT_EQ(next_tab_stop(find<QWidget>(order[i - 1])), find<QWidget>(order[i])) << order[i - 1];
}

TEST_F(SettingsWindowTest, EachServersEncryptionIsRestoredFromItsOwnValueOrItsPort) {
  struct Case {
    const char* in_port;
    const char* out_port;
    std::optional<std::string> in_value, out_value;
    SecurityMode in, out;
  };
  const Case cases[] = {
      {"pop3", "smtp", {}, {}, SecurityMode::kNone, SecurityMode::kNone},
      {"995", "465", {}, {}, SecurityMode::kTls, SecurityMode::kTls},
      {"110", "25", "starttls", "tls", SecurityMode::kStartTls, SecurityMode::kTls},
      {"pop3s", "587", "maybe", "STARTTLS", SecurityMode::kTls, SecurityMode::kStartTls},
  };
  for (const Case& c : cases) {
    SettingsValues v;
    ResetToDefaults(v);
    v.incoming_port = c.in_port;
    v.outgoing_port = c.out_port;
    store(BuildSettingsText(v));
    WriteRegString(kProgramKey, "InSecurity", c.in_value.value_or(""));
    WriteRegString(kProgramKey, "OutSecurity", c.out_value.value_or(""));
    window_->restoreFromRegistry();
    const std::string what = std::string(c.in_port) + "/" + c.out_port;
    EXPECT_EQ(window_->incomingSecurity(), c.in) << what;
    EXPECT_EQ(window_->outgoingSecurity(), c.out) << what;
    EXPECT_EQ(engine_->InSecurity(), c.in) << what;
    EXPECT_EQ(engine_->OutSecurity(), c.out) << what;
  }
}

TEST_F(SettingsWindowTest, SaveStoresTheEncryptionBesideAnUnchangedSettingsText) {
  window_->restoreFromRegistry();
  pick("InSecurity", SecurityMode::kStartTls);
  pick("OutSecurity", SecurityMode::kTls);
  button("BOK").click();
  EXPECT_EQ(engine_->InSecurity(), SecurityMode::kStartTls);
  EXPECT_EQ(engine_->OutSecurity(), SecurityMode::kTls);
  EXPECT_EQ(stored("InSecurity"), kNone);  // Submit stores nothing
  button("BSave").click();
  EXPECT_EQ(stored("InSecurity"), "starttls");
  EXPECT_EQ(stored("OutSecurity"), "tls");
  EXPECT_EQ(stored(),
            "127.0.0.1\r\npop3\r\nUser\r\nNoMorePass\r\n120\r\n20\r\n1\r\n127.0.0.1\r\n"
            "465\r\n1\r\n1\r\n1\r\n"s +
                kDefaultSender);
}

TEST_F(SettingsWindowTest, PickingAnEncryptionProposesItsUsualPortUnlessOneWasTyped) {
  struct Case {
    const char* list;
    const char* port_edit;
    QString port_before;
    SecurityMode chosen;
    QString port_after;
  };
  const Case cases[] = {
      {"InSecurity", "Edit4", "pop3", SecurityMode::kTls, "995"},
      {"InSecurity", "Edit4", "", SecurityMode::kTls, "995"},
      {"InSecurity", "Edit4", "1995", SecurityMode::kTls, "1995"},
      {"OutSecurity", "Edit8", "smtp", SecurityMode::kStartTls, "587"},
      {"OutSecurity", "Edit8", "2525", SecurityMode::kTls, "2525"},
  };
  for (const Case& c : cases) {
    window_->restoreFromRegistry();
    edit(c.port_edit).setText(c.port_before);
    pick(c.list, c.chosen);
    EXPECT_EQ(edit(c.port_edit).text(), c.port_after)
        << c.list << " " << c.port_before.toStdString();
    EXPECT_EQ(find<QLabel>("SecurityHint")->text(), SecurityMeaning(c.chosen));
  }
  // Back and forth: each step follows the port the previous one proposed.
  window_->restoreFromRegistry();
  pick("OutSecurity", SecurityMode::kTls);
  pick("OutSecurity", SecurityMode::kStartTls);
  pick("OutSecurity", SecurityMode::kNone);
  EXPECT_EQ(edit("Edit8").text(), QStringLiteral("25"));
}

TEST_F(SettingsWindowTest, ACertificateTrustedAlwaysIsStoredAtOnceAndReachesTheEngine) {
  window_->restoreFromRegistry();
  tQrCertificate certificate;
  certificate.Incoming = true;
  certificate.Server = "127.0.0.1";
  certificate.Subject = "CN=localhost";
  certificate.Fingerprint = "12:34:AB";
  certificate.Reason = "self-signed certificate";

  desktop_.answerChoice(1);  // this time only
  tQrTrust answer = trNo;
  window_->trustCertificate(certificate, answer);
  EXPECT_EQ(answer, trOnce);
  EXPECT_EQ(stored("InTrusted"), kNone);

  pick("InSecurity", SecurityMode::kTls);  // chosen, not saved
  desktop_.answerChoice(2);
  window_->trustCertificate(certificate, answer);
  EXPECT_EQ(answer, trAlways);
  EXPECT_EQ(stored("InTrusted"), "12:34:AB");
  EXPECT_EQ(stored("OutTrusted"), "");
  EXPECT_EQ(stored("InSecurity"), "none");  // the unsaved choice stays unsaved
  ASSERT_EQ(desktop_.asked().size(), 2u);
  EXPECT_TRUE(desktop_.asked()[1].text.contains(QStringLiteral("12:34:AB")));
  EXPECT_TRUE(desktop_.asked()[1].text.contains(QStringLiteral("CN=localhost")));

  button("BOK").click();
  EXPECT_EQ(engine_->InTrusted(), std::vector<std::string>{"12:34:AB"});
  window_->restoreFromRegistry();
  button("BOK").click();
  EXPECT_EQ(engine_->InTrusted(), std::vector<std::string>{"12:34:AB"});
}

TEST_F(SettingsWindowTest, EveryControlFitsTheFixedWindowUnclipped) {
  log_ = QStringList{QStringLiteral("Dovrik 0.1 (10 December 2026)"), QString(),
                     QStringLiteral("Thanks to everybody who tested it.")};
  window_->restoreFromRegistry();
  window_->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  const QRect client = window_->rect();
  std::vector<std::pair<QString, QRect>> placed;
  for (QWidget* child : window_->findChildren<QWidget*>()) {
    if (child->parentWidget() != window_.get() || !child->isVisible()) continue;
    const QString name = child->objectName().isEmpty()
                             ? child->metaObject()->className() + QStringLiteral(" ") +
                                   child->property("text").toString()
                             : child->objectName();
    EXPECT_TRUE(client.contains(child->geometry())) << name.toStdString();
    if (auto* button = qobject_cast<QPushButton*>(child)) {
      // Flat: the caption alone must fit.
      const QString caption = QString(button->text()).remove('&');
      EXPECT_GE(button->width(), button->fontMetrics().horizontalAdvance(caption) + 4)
          << name.toStdString();
    } else if (qobject_cast<QCheckBox*>(child) || child->inherits("QLabel")) {
      EXPECT_GE(child->width(), child->sizeHint().width()) << name.toStdString();
    }
    EXPECT_GE(child->height(), child->minimumSizeHint().height()) << name.toStdString();
    for (const auto& [other, rect] : placed)
      EXPECT_FALSE(rect.intersects(child->geometry()))
          << name.toStdString() << " overlaps " << other.toStdString();
    placed.emplace_back(name, child->geometry());
  }
  EXPECT_EQ(find<QWidget>("Memo1")->height(), 179);
  testing::SaveScreenshot(*window_, QStringLiteral("settings-window.png"));
}

}  // namespace
}  // namespace dovrik
