#include "ui/password_prompt.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

#include "tests/ui/screenshot.h"
#include "tests/ui/scripted_desktop.h"

namespace dovrik {
namespace {

using testing::ScriptedDesktop;

class PasswordPromptTest : public ::testing::Test {
 protected:
  QLineEdit& field() { return *prompt_.findChild<QLineEdit*>(QStringLiteral("Edit1")); }
  QString countdown() { return prompt_.findChild<QLabel*>(QStringLiteral("Label2"))->text(); }
  QPushButton& button(const char* name) {
    return *prompt_.findChild<QPushButton*>(QString::fromLatin1(name));
  }
  // Replaces the field's text by typing, as a user would.
  void type(const QString& text) {
    field().selectAll();
    QTest::keyClick(&field(), Qt::Key_Backspace);
    for (QChar c : text)  // one key press per character, non-ASCII ones too
      QTest::sendKeyEvent(QTest::Click, &field(), Qt::Key_unknown, QString(c), Qt::NoModifier);
  }
  // Prepares a prompt answered by typing text and pressing Enter.
  void willSend(const QString& text) {
    desktop_.onModal([this, text](QDialog&) {
      type(text);
      QTest::keyClick(&field(), Qt::Key_Return);
      return QDialog::Rejected;  // not reached: Enter has closed it
    });
  }
  // Runs one prompt the user answers with Send, and confirms it as a successful check would.
  void confirm(const QString& text) {
    willSend(text);
    std::string pass;
    ASSERT_TRUE(prompt_.askPassword(pass));
    prompt_.setPassConfirmed(true);
    ASSERT_TRUE(prompt_.passConfirmed());
  }

  ScriptedDesktop desktop_;
  QString timeout_ = QStringLiteral("20");
  PasswordPrompt prompt_{desktop_, [this] { return timeout_; }};
};

TEST_F(PasswordPromptTest, CountsDownFromTheTimeoutFieldAndClosesAtTheTickShowingZero) {
  struct Case {
    QString timeout;
    int first;  // the seconds shown at the first tick
    int last;   // shown at the tick that closes the prompt
  };
  const Case cases[] = {
      {"7", 7, 0}, {" 3 ", 3, 0}, {"letters", 20, 0}, {"", 20, 0}, {"0", 0, 0}, {"-3", -3, -3},
  };
  for (const Case& c : cases) {
    timeout_ = c.timeout;
    QStringList shown;
    desktop_.onModal([&](QDialog&) {
      EXPECT_EQ(countdown(), QString());
      EXPECT_TRUE(prompt_.findChild<QTimer*>(QStringLiteral("Timer1"))->isActive());
      for (int tick = 0; tick < 100 && prompt_.isVisible(); ++tick) {
        prompt_.timerTick();
        shown << countdown();
      }
      return QDialog::Accepted;  // not reached: the countdown has closed it
    });
    std::string pass = "untouched";
    EXPECT_FALSE(prompt_.askPassword(pass)) << c.timeout.toStdString();
    EXPECT_EQ(pass, "untouched");
    EXPECT_FALSE(prompt_.findChild<QTimer*>(QStringLiteral("Timer1"))->isActive());
    QStringList expected;
    for (int left = c.first; left >= c.last; --left)
      expected << QStringLiteral("You have %1 sec. left").arg(left);
    EXPECT_EQ(shown, expected) << c.timeout.toStdString();
  }
}

TEST_F(PasswordPromptTest, ReadsTheTimeoutFieldAtEveryTick) {
  desktop_.onModal([this](QDialog&) {
    prompt_.timerTick();
    prompt_.timerTick();
    EXPECT_EQ(countdown(), QStringLiteral("You have 19 sec. left"));
    timeout_ = QStringLiteral("3");
    prompt_.timerTick();
    EXPECT_EQ(countdown(), QStringLiteral("You have 1 sec. left"));
    EXPECT_TRUE(prompt_.isVisible());
    prompt_.timerTick();
    EXPECT_EQ(countdown(), QStringLiteral("You have 0 sec. left"));
    EXPECT_FALSE(prompt_.isVisible());
    return QDialog::Accepted;
  });
  std::string pass;
  EXPECT_FALSE(prompt_.askPassword(pass));
}

TEST_F(PasswordPromptTest, GivesScreenReadersTheCountdownBesideItsName) {
  QLabel& label = *prompt_.findChild<QLabel*>(QStringLiteral("Label2"));
  desktop_.onModal([&](QDialog&) {
    EXPECT_EQ(label.accessibleDescription(), QString());
    prompt_.timerTick();
    EXPECT_EQ(label.accessibleDescription(), QStringLiteral("You have 20 sec. left"));
    prompt_.timerTick();
    EXPECT_EQ(label.accessibleDescription(), QStringLiteral("You have 19 sec. left"));
    return QDialog::Rejected;
  });
  std::string pass;
  EXPECT_FALSE(prompt_.askPassword(pass));
  EXPECT_EQ(label.accessibleName(), QStringLiteral("Time left"));
  // The next prompt starts blank again, for the eye and the ear alike.
  desktop_.onModal([&](QDialog&) {
    EXPECT_EQ(label.accessibleDescription(), QString());
    return QDialog::Rejected;
  });
  EXPECT_FALSE(prompt_.askPassword(pass));
}

TEST_F(PasswordPromptTest, SendHandsOverTheTypedTextWhichStaysInTheFieldForTheNextPrompt) {
  willSend(QStringLiteral("s3cr\u00e9t"));
  std::string pass;
  ASSERT_TRUE(prompt_.askPassword(pass));
  EXPECT_EQ(pass, "s3cr\xC3\xA9t");
  EXPECT_FALSE(prompt_.passConfirmed());

  // Not confirmed yet: the next request asks again, with the last text still typed.
  desktop_.onModal([this](QDialog&) {
    EXPECT_EQ(field().text(), QStringLiteral("s3cr\u00e9t"));
    button("Button1").click();
    return QDialog::Rejected;
  });
  pass.clear();
  ASSERT_TRUE(prompt_.askPassword(pass));
  EXPECT_EQ(pass, "s3cr\xC3\xA9t");
}

TEST_F(PasswordPromptTest, SendWithNothingTypedHandsOverThePlaceholder) {
  desktop_.onModal([this](QDialog&) {
    EXPECT_EQ(field().text(), QString::fromLatin1(PasswordPrompt::kPlaceholder));
    return QDialog::Accepted;
  });
  std::string pass;
  ASSERT_TRUE(prompt_.askPassword(pass));
  EXPECT_EQ(pass, PasswordPrompt::kPlaceholder);
}

TEST_F(PasswordPromptTest, AbortEscapeCloseAndTheCountdownGiveNoPasswordAndKeepTheLastOne) {
  const std::pair<const char*, std::function<void()>> ways[] = {
      {"Abort", [this] { button("Button2").click(); }},
      {"Escape", [this] { QTest::keyClick(&field(), Qt::Key_Escape); }},
      {"close box", [this] { prompt_.close(); }},
      {"countdown",
       [this] {
         timeout_ = QStringLiteral("0");
         prompt_.timerTick();
       }},
  };
  // A password given before, not yet confirmed.
  willSend(QStringLiteral("first"));
  std::string given;
  ASSERT_TRUE(prompt_.askPassword(given));
  for (const auto& [way, act] : ways) {
    desktop_.onModal([&, act = act](QDialog&) {
      type(QStringLiteral("typed but not sent"));
      act();
      EXPECT_FALSE(prompt_.isVisible()) << way;
      return QDialog::Accepted;  // not reached
    });
    std::string pass = "untouched";
    EXPECT_FALSE(prompt_.askPassword(pass)) << way;
    EXPECT_EQ(pass, "untouched") << way;
  }
  // What was last sent is still the password a successful check confirms.
  prompt_.setPassConfirmed(true);
  std::string pass;
  ASSERT_TRUE(prompt_.askPassword(pass));
  EXPECT_EQ(pass, "first");
}

TEST_F(PasswordPromptTest, OnceConfirmedEveryRequestGetsThePasswordWithoutAsking) {
  confirm(QStringLiteral("right"));
  for (int request = 0; request < 3; ++request) {
    std::string pass;
    ASSERT_TRUE(prompt_.askPassword(pass));
    EXPECT_EQ(pass, "right");
  }
  EXPECT_EQ(desktop_.asked().size(), 1u);
}

TEST_F(PasswordPromptTest, ASecondRequestWhileOpenEndsAtOnceWithoutAPassword) {
  desktop_.onModal([this](QDialog&) {
    std::string second = "untouched";
    EXPECT_FALSE(prompt_.askPassword(second));  // no second window: the desktop was not asked
    EXPECT_EQ(second, "untouched");
    EXPECT_TRUE(prompt_.isVisible());
    type(QStringLiteral("pw"));
    button("Button1").click();
    return QDialog::Rejected;
  });
  std::string first;
  ASSERT_TRUE(prompt_.askPassword(first));
  EXPECT_EQ(first, "pw");
  EXPECT_EQ(desktop_.asked().size(), 1u);
}

TEST_F(PasswordPromptTest, ForgettingClearsTheConfirmationAndThePasswordEvenIfACheckEndsLater) {
  confirm(QStringLiteral("old server's"));
  prompt_.forgetPassword();
  EXPECT_FALSE(prompt_.passConfirmed());
  EXPECT_EQ(field().text(), QString::fromLatin1(PasswordPrompt::kPlaceholder));
  // A check still running against the old server ends without error: nothing is left to confirm.
  prompt_.setPassConfirmed(true);
  EXPECT_FALSE(prompt_.passConfirmed());
  desktop_.onModal([](QDialog&) { return QDialog::Rejected; });
  std::string pass = "untouched";
  EXPECT_FALSE(prompt_.askPassword(pass));
  EXPECT_EQ(pass, "untouched");
}

TEST_F(PasswordPromptTest, ShowsEveryCharacterAsAnAmpersand) {
  desktop_.onModal([this](QDialog& dialog) {
    type(QStringLiteral("abc d\u00e9"));
    EXPECT_EQ(field().echoMode(), QLineEdit::Password);
    EXPECT_EQ(field().displayText(), QStringLiteral("&&&&&&"));
    for (int tick = 0; tick < 5; ++tick) prompt_.timerTick();
    EXPECT_EQ(countdown(), QStringLiteral("You have 16 sec. left"));
    testing::SaveScreenshot(dialog, QStringLiteral("password-prompt.png"));
    return QDialog::Rejected;
  });
  std::string pass;
  EXPECT_FALSE(prompt_.askPassword(pass));
}

TEST_F(PasswordPromptTest, CarriesItsNamesCaptionsAndSize) {
  EXPECT_EQ(prompt_.objectName(), QStringLiteral("Form4"));
  EXPECT_EQ(prompt_.windowTitle(), QStringLiteral("Password for e-mail server"));
  EXPECT_EQ(prompt_.size(), QSize(336, 97));
  const std::pair<const char*, QString> captions[] = {{"Button1", "Send"}, {"Button2", "Abort"}};
  for (const auto& [name, caption] : captions) {
    EXPECT_EQ(button(name).text(), caption);
    EXPECT_EQ(button(name).accessibleName(), caption);
  }
  EXPECT_TRUE(button("Button1").isDefault());
  EXPECT_EQ(prompt_.findChild<QLabel*>(QStringLiteral("Label1"))->text(),
            QStringLiteral("Enter your password"));
  EXPECT_EQ(field().accessibleName(), QStringLiteral("Enter your password"));
  EXPECT_EQ(prompt_.findChild<QTimer*>(QStringLiteral("Timer1"))->interval(), 1000);
}

}  // namespace
}  // namespace dovrik
