// The Yes/No question and the long date.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDate>
#include <QLocale>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <limits>

#include "desktop/ask_yes_no.h"
#include "desktop/long_date_text.h"

namespace dovrik {
namespace {

// Answers the next modal message box with a key once it shows; gives up after about 10 s.
class Answer {
 public:
  explicit Answer(Qt::Key key) {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this, key] {
      if (++ticks_ > 1000) {
        timer_.stop();
        return;
      }
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) return;
      timer_.stop();
      title_ = box->windowTitle();
      text_ = box->text();
      icon_ = box->icon();
      QTest::keyClick(box, key);
    });
    timer_.start();
  }
  QString title_, text_;
  QMessageBox::Icon icon_ = QMessageBox::NoIcon;

 private:
  QTimer timer_;
  int ticks_ = 0;
};

TEST(AskYesNo, IsTrueOnlyForYes) {
  {
    Answer answer(Qt::Key_Y);
    EXPECT_TRUE(AskYesNo("Send this reply?"));
    EXPECT_EQ(answer.title_, "Confirm");
    EXPECT_EQ(answer.text_, "Send this reply?");
    EXPECT_EQ(answer.icon_, QMessageBox::Question);
  }
  {
    Answer answer(Qt::Key_Escape);
    EXPECT_FALSE(AskYesNo("Are you sure you want to quit?"));
  }
  {
    Answer answer(Qt::Key_Return);      // Yes is the default button
    EXPECT_TRUE(AskYesNo("Caf\xe9?"));  // not UTF-8: shown as Latin-1
    EXPECT_EQ(answer.text_, QString::fromUtf8("Caf\xc3\xa9?"));
  }
}

TEST(LongDateText, GivesTheLocalesLongDateOfTheDayOnly) {
  auto expected = [](int y, int m, int d) {
    return QLocale::system().toString(QDate(y, m, d), QLocale::LongFormat).toStdString();
  };
  EXPECT_EQ(LongDateText(35929.52034837963), expected(1998, 5, 14));
  EXPECT_EQ(LongDateText(0), expected(1899, 12, 30));
  EXPECT_EQ(LongDateText(-1.25), expected(1899, 12, 29));  // before the origin: 29th, 06:00
  EXPECT_EQ(LongDateText(2958465.99), expected(9999, 12, 31));
  EXPECT_EQ(LongDateText(std::nan("")), "");
  EXPECT_EQ(LongDateText(std::numeric_limits<double>::infinity()), "");
}

}  // namespace
}  // namespace dovrik
