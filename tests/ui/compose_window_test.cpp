// The compose window: its text, caption, keys and the turned warning, driven through the modal
// seam without a real modal loop.
#include "ui/compose_window.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFrame>
#include <QImage>
#include <QLocale>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTest>
#include <QTextBlock>
#include <QToolButton>
#include <clocale>
#include <deque>
#include <functional>

#include "ui/desktop.h"
#include "ui/warning_paint_box.h"

namespace dovrik {
namespace {

// Answers modal runs from a queue of prepared actions; anything else asked is a test failure.
class ModalScript : public Desktop {
 public:
  void onModal(std::function<int(QDialog&)> action) { modal_.push_back(std::move(action)); }
  int runModal(QDialog& dialog) override {
    if (modal_.empty()) {
      ADD_FAILURE() << "unexpected modal window";
      return QDialog::Rejected;
    }
    auto action = std::move(modal_.front());
    modal_.pop_front();
    return action(dialog);
  }
  bool askYesNo(QWidget*, std::string_view) override { return Unexpected(false); }
  std::optional<QString> askText(QWidget*, const QString&, const QString&,
                                 const QString&) override {
    return Unexpected(std::optional<QString>());
  }
  std::optional<QString> askSaveFile(QWidget*, SaveFileRequest&) override {
    return Unexpected(std::optional<QString>());
  }
  std::optional<QFont> askFont(QWidget*, const QFont&) override {
    return Unexpected(std::optional<QFont>());
  }
  void showMessage(QWidget*, const QString&) override { Unexpected(0); }

 private:
  template <typename T>
  T Unexpected(T answer) {
    ADD_FAILURE() << "unexpected question";
    return answer;
  }
  std::deque<std::function<int(QDialog&)>> modal_;
};

constexpr double kDec6 = 46362.33578703704;  // Sun, 6 Dec 2026 08:03:32
const std::string kTail =
    "Date: Sun, 6 Dec 2026 08:03:32\r\nMIME-Version: 1.0\r\nContent-Type: text/plain\r\n\r\n";

class ComposeWindowTest : public ::testing::Test {
 protected:
  ComposeWindowTest() : window_(desktop_, [this] { return sender_; }) {
    window_.setClock([] { return kDec6; });
  }
  // Shows the window as the modal run would, lets act() work on it, and ends the run with the
  // result the window was closed with.
  bool Compose(const std::string& subject, const std::string& to, const std::string& body,
               bool reply, const std::function<void(QDialog&)>& act = {}) {
    desktop_.onModal([act](QDialog& dialog) {
      dialog.show();
      if (act) act(dialog);
      return dialog.result();
    });
    return window_.compose(subject, to, body, reply);
  }
  QWidget* Child(const char* name) { return window_.findChild<QWidget*>(name); }

  ModalScript desktop_;
  std::string sender_ = "Me <me@x>";
  ComposeWindow window_;
};

TEST_F(ComposeWindowTest, ReplyAndNewMessageFillTextAndCaptionAfresh) {
  EXPECT_TRUE(Compose("hello", "Some One <box>", "a\r\nb", true, [](QDialog& d) { d.accept(); }));
  EXPECT_EQ(window_.windowTitle(), "Reply");
  EXPECT_EQ(window_.text(), "From: Me <me@x>\r\nTo: Some One <box>\r\nSubject: Re: hello\r\n" +
                                kTail + "=>a\r\n=>b\r\n");

  sender_ = "other@y";  // read again at every opening
  EXPECT_FALSE(Compose("%Subject%", "friend", "Hello!\r\n\r\nGoodbye!", false));
  EXPECT_EQ(window_.windowTitle(), "New message");
  EXPECT_EQ(window_.accessibleName(), "New message");
  EXPECT_EQ(window_.text(), "From: other@y\r\nTo: friend\r\nSubject: %Subject%\r\n" + kTail +
                                "Hello!\r\n\r\nGoodbye!\r\n");
}

TEST_F(ComposeWindowTest, DateLineIsEnglishUnderAGermanLocale) {
  const QLocale saved;
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  std::setlocale(LC_ALL, "de_DE.UTF-8");  // where installed; the test holds either way
  window_.setClock({});
  ComposeWindow real_clock(desktop_, [] { return std::string("me"); });
  desktop_.onModal([](QDialog&) { return int(QDialog::Rejected); });
  real_clock.compose("s", "t", "b", false);
  std::setlocale(LC_ALL, "C");
  QLocale::setDefault(saved);
  const QString text = QString::fromStdString(real_clock.text());
  EXPECT_TRUE(QRegularExpression("\r\nDate: (Sun|Mon|Tue|Wed|Thu|Fri|Sat), [1-9][0-9]? "
                                 "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [0-9]{4} "
                                 "[0-2][0-9]:[0-5][0-9]:[0-5][0-9]\r\n")
                  .match(text)
                  .hasMatch())
      << text.toStdString();
}

// Which keys and clicks close the window, with which result, and what they do to the text.
TEST_F(ComposeWindowTest, KeysAndButtons) {
  enum Target { kMemo, kWindow, kSendButton };
  const struct {
    const char* what;
    Target target;
    Qt::Key key;
    bool closed;
    bool sent;
    const char* typed;  // the text area's first line after the key
  } cases[] = {
      {"Enter in the text area starts a line", kMemo, Qt::Key_Return, false, false, ""},
      {"keypad Enter in the text area too", kMemo, Qt::Key_Enter, false, false, ""},
      {"Tab in the text area types a tab", kMemo, Qt::Key_Tab, false, false, "\tFrom: me"},
      {"Esc in the text area cancels", kMemo, Qt::Key_Escape, true, false, "From: me"},
      {"Enter outside the text area sends", kWindow, Qt::Key_Return, true, true, "From: me"},
      {"Enter on a flat button sends", kSendButton, Qt::Key_Return, true, true, "From: me"},
      {"Esc outside the text area cancels", kWindow, Qt::Key_Escape, true, false, "From: me"},
  };
  sender_ = "me";
  for (const auto& c : cases) {
    bool closed = false;
    const bool sent = Compose("s", "t", "b", false, [&](QDialog& dialog) {
      QWidget* target = c.target == kMemo     ? static_cast<QWidget*>(&window_.textArea())
                        : c.target == kWindow ? static_cast<QWidget*>(&dialog)
                                              : Child("SpeedButton1");
      QTest::keyClick(target, c.key);
      closed = !dialog.isVisible();
      dialog.hide();
    });
    EXPECT_EQ(closed, c.closed) << c.what;
    EXPECT_EQ(sent, c.sent) << c.what;
    EXPECT_EQ(window_.textArea().document()->firstBlock().text().toStdString(), c.typed) << c.what;
  }
}

TEST_F(ComposeWindowTest, SendIgnoreAndCloseButtons) {
  const struct {
    const char* what;
    std::function<void(ComposeWindow&)> act;
    bool sent;
  } cases[] = {
      {"Send",
       [](ComposeWindow& w) {
         QTest::mouseClick(w.findChild<QToolButton*>("SpeedButton1"), Qt::LeftButton);
       },
       true},
      {"Ignore",
       [](ComposeWindow& w) {
         QTest::mouseClick(w.findChild<QToolButton*>("SpeedButton2"), Qt::LeftButton);
       },
       false},
      {"title-bar close", [](ComposeWindow& w) { w.close(); }, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Compose("s", "t", "b", true, [&](QDialog&) { c.act(window_); }), c.sent) << c.what;
    EXPECT_FALSE(window_.isVisible()) << c.what;
  }
}

TEST_F(ComposeWindowTest, EightBitBytesComeBackUnchangedUnlessTheUserTypesBeyondLatin1) {
  const std::string latin1_body = "caf\xE9\xA0x";  // not UTF-8: shown as Latin-1, NBSP included
  Compose("s", "t", latin1_body, false);
  EXPECT_EQ(window_.text(),
            "From: Me <me@x>\r\nTo: t\r\nSubject: s\r\n" + kTail + latin1_body + "\r\n");

  Compose("s", "t", latin1_body, false, [this](QDialog&) {
    window_.textArea().moveCursor(QTextCursor::End);
    QTest::keyClick(&window_.textArea(), Qt::Key_Return);
    QTest::sendKeyEvent(QTest::Click, &window_.textArea(), Qt::Key_unknown,
                        QString::fromUtf8("\xE2\x82\xAC"), Qt::NoModifier);  // the euro sign
  });
  EXPECT_EQ(window_.text(), "From: Me <me@x>\r\nTo: t\r\nSubject: s\r\n" + kTail +
                                "caf\xC3\xA9\xC2\xA0x\r\n\xE2\x82\xAC\r\n");

  const std::string utf8_body = "gr\xC3\xBC\xC3\x9F";
  Compose("s", "t", utf8_body, true);
  EXPECT_EQ(window_.text(),
            "From: Me <me@x>\r\nTo: t\r\nSubject: Re: s\r\n" + kTail + "=>" + utf8_body + "\r\n");
}

TEST_F(ComposeWindowTest, LayoutAndNames) {
  EXPECT_EQ(window_.objectName(), "Form3");
  EXPECT_EQ(window_.size(), QSize(412, 293));
  auto* panel = window_.findChild<QFrame*>("Panel1");
  ASSERT_NE(panel, nullptr);
  window_.show();
  EXPECT_EQ(panel->geometry(), QRect(0, 0, 49, 293));
  EXPECT_EQ(window_.textArea().objectName(), "Memo1");
  EXPECT_EQ(window_.textArea().geometry().left(), 49);
  EXPECT_EQ(window_.textArea().lineWrapMode(), QPlainTextEdit::NoWrap);
  auto* send = window_.findChild<QToolButton*>("SpeedButton1");
  auto* ignore = window_.findChild<QToolButton*>("SpeedButton2");
  ASSERT_TRUE(send && ignore);
  EXPECT_EQ(send->text(), "Send");
  EXPECT_EQ(ignore->text(), "Ignore");
  EXPECT_EQ(ignore->toolTip(), "Cancel");
  EXPECT_TRUE(send->autoRaise() && ignore->autoRaise());
  EXPECT_LT(send->geometry().bottom(), ignore->geometry().top());
  QWidget* pb1 = Child("PB1");
  ASSERT_NE(pb1, nullptr);
  EXPECT_EQ(pb1->size(), QSize(41, 173));
  EXPECT_LT(ignore->geometry().bottom(), pb1->geometry().top());
  EXPECT_EQ(pb1->font().family(), "Arial");
  EXPECT_EQ(pb1->font().pixelSize(), 11);
  EXPECT_TRUE(pb1->font().italic());
  window_.hide();
}

// The two warning lines read bottom to top: each starts 5 pixels above the bottom edge and its
// letters stand to the right of its x; the header note is the longer of the two.
TEST_F(ComposeWindowTest, WarningIsPaintedTurnedFromTheBottomUp) {
  WarningPaintBox box;
  QImage image(box.size(), QImage::Format_RGB32);
  image.fill(Qt::white);
  QPalette palette = box.palette();
  palette.setColor(QPalette::WindowText, Qt::black);
  box.setPalette(palette);
  box.setAttribute(Qt::WA_NoSystemBackground);
  box.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
  struct Band {
    int left = 1000, right = -1, top = 1000, bottom = -1;
  };
  auto band_of = [&](int from_x, int to_x) {
    Band b;
    for (int x = from_x; x < to_x; ++x) {
      for (int y = 0; y < image.height(); ++y) {
        if (qGray(image.pixel(x, y)) < 128) {
          b.left = std::min(b.left, x), b.right = std::max(b.right, x);
          b.top = std::min(b.top, y), b.bottom = std::max(b.bottom, y);
        }
      }
    }
    return b;
  };
  const Band warning = band_of(0, 18), note = band_of(18, 41);
  const int start = box.height() - WarningPaintBox::kBottomGap;
  for (const Band& b : {warning, note}) {
    ASSERT_GE(b.right, 0) << "nothing drawn";
    EXPECT_LE(b.bottom, start);
    EXPECT_GE(b.bottom, start - 4);                       // the first letter sits at the start
    EXPECT_GT(b.top, 0);                                  // and the last one inside the box
    EXPECT_GT(b.bottom - b.top, 3 * (b.right - b.left));  // runs upwards, not across
  }
  EXPECT_GE(warning.left, WarningPaintBox::kWarningX);
  EXPECT_GE(note.left, WarningPaintBox::kHeaderNoteX);
  EXPECT_LT(note.top, warning.top - 40);
}

TEST_F(ComposeWindowTest, ScreenshotOfAReply) {
  const QString dir = qEnvironmentVariable("DOVRIK_ARTEFACTS");
  if (dir.isEmpty()) GTEST_SKIP() << "no artefact folder";
  QDir().mkpath(dir);
  Compose("Lunch on Friday?", "Some One <box@example.org>",
          "Hi,\r\n\r\nshall we meet at noon?\r\n\tSome", true,
          [&](QDialog& dialog) { EXPECT_TRUE(dialog.grab().save(dir + "/compose-reply.png")); });
}

}  // namespace
}  // namespace dovrik
