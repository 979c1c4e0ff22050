#include "desktop/wait.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <climits>
#include <vector>

#include "desktop/queue_bridge.h"
#include "socket/wsocket.h"
#include "tests/socket/socket_test_util.h"

namespace dovrik {
namespace {

class WaitTest : public ::testing::Test {
 protected:
  WaitTest() {
    wait_.SetInterval(10);  // the countdown's steps, not its logic, are sped up
    wait_.Beep = [this] { ++beeps_; };
  }
  TWait wait_;
  int beeps_ = 0;
};

TEST_F(WaitTest, CountOfThreeTicksTwoOneZeroThenTimesOut) {
  std::vector<int> counts;
  int timeouts = 0;
  wait_.OnWait = [&](TCustomWait* sender, int count) {
    EXPECT_EQ(sender, &wait_);
    counts.push_back(count);
  };
  wait_.OnTimeout = [&](TCustomWait*) {
    ++timeouts;
    EXPECT_EQ(wait_.Caption(), "3");
  };
  wait_.SetCaption("3");
  wait_.Run();
  EXPECT_EQ(counts, (std::vector<int>{2, 1, 0}));
  EXPECT_EQ(timeouts, 1);
  EXPECT_EQ(wait_.ModalResult(), 2);
  EXPECT_EQ(wait_.Caption(), "3");
  EXPECT_FALSE(wait_.Running());
  EXPECT_EQ(wait_.StartCount(), 3);
}

TEST_F(WaitTest, ScreenReadersGetTheCountItDraws) {
  EXPECT_EQ(wait_.accessibleDescription(), "60");
  std::vector<QString> read;
  wait_.OnWait = [&](TCustomWait*, int) { read.push_back(wait_.accessibleDescription()); };
  wait_.SetCaption("3");
  wait_.Run();
  EXPECT_EQ(read, (std::vector<QString>{"3", "2", "1"}));
  EXPECT_EQ(wait_.accessibleDescription(), "3");  // back to the start count, as drawn
}

TEST_F(WaitTest, StopFromAHandlerEndsRunAsSuccess) {
  int stops = 0;
  int turns = 0;
  wait_.OnWaitStop = [&](TCustomWait*) { ++stops; };
  wait_.OnWaiting = [&](TCustomWait*) { ++turns; };
  wait_.OnWait = [&](TCustomWait* sender, int count) {
    if (count == 8) sender->Stop();
  };
  wait_.SetCaption("10");
  wait_.Run();
  EXPECT_EQ(wait_.ModalResult(), 1);
  EXPECT_EQ(stops, 1);
  EXPECT_GE(turns, 1);
  EXPECT_EQ(wait_.Caption(), "10");
  EXPECT_FALSE(wait_.Running());

  // Stopped on the last tick: no time-out follows the stop.
  int timeouts = 0;
  wait_.OnTimeout = [&](TCustomWait*) { ++timeouts; };
  wait_.OnWait = [&](TCustomWait* sender, int count) {
    if (count == 0) sender->Stop();
  };
  wait_.SetCaption("2");
  wait_.Run();
  EXPECT_EQ(wait_.ModalResult(), 1);
  EXPECT_EQ(timeouts, 0);
  EXPECT_EQ(wait_.Caption(), "2");

  // Stop on an idle control resets the caption and tells, nothing more.
  wait_.SetCaption("4");
  wait_.Stop();
  EXPECT_EQ(wait_.Caption(), "2");
  EXPECT_EQ(stops, 3);
}

TEST_F(WaitTest, KeyPressesAndClicksDuringRunAreSwallowedWithABeep) {
  QWidget window;
  auto* edit = new QLineEdit(&window);
  auto* button = new QPushButton("OK", &window);
  button->move(0, 40);
  window.show();
  edit->setFocus();
  QSignalSpy clicked(button, &QPushButton::clicked);

  wait_.SetCaption("1000");
  wait_.OnWaitStart = [&](TCustomWait*) {
    QTimer::singleShot(0, [&] {
      QTest::keyClick(edit, Qt::Key_A);
      QTest::mouseClick(button, Qt::LeftButton);
      QTest::mouseClick(button, Qt::MiddleButton);  // only the left and right buttons are held
      wait_.Stop();
    });
  };
  wait_.Run();
  EXPECT_EQ(wait_.ModalResult(), 1);
  EXPECT_EQ(edit->text(), "");
  EXPECT_EQ(clicked.count(), 0);
  EXPECT_EQ(beeps_, 2);

  // After Run the application gets its input again.
  QTest::keyClick(edit, Qt::Key_B);
  EXPECT_EQ(edit->text(), "b");
  EXPECT_EQ(beeps_, 2);
}

TEST_F(WaitTest, CaptionWithoutLeadingDigitsCountsFrom15) {
  struct Case {
    std::string caption;
    int start;
    std::string shown;
  } cases[] = {{"abc", 15, "15"}, {"", 15, "15"},
               {"0", 15, "15"},   {"  7 sec", 7, "  7 sec"},
               {"x9", 15, "15"},  {"99999999999", INT_MAX, "99999999999"}};
  for (const Case& c : cases) {
    wait_.SetCaption(c.caption);
    wait_.Start();
    EXPECT_TRUE(wait_.Running());
    EXPECT_EQ(wait_.StartCount(), c.start) << c.caption;
    EXPECT_EQ(wait_.Caption(), c.shown) << c.caption;
    wait_.Stop();
    EXPECT_EQ(wait_.Caption(), std::to_string(c.start));
  }
}

TEST_F(WaitTest, PaintsFrameBarAndCount) {
  ASSERT_EQ(wait_.width(), 192);
  ASSERT_EQ(wait_.height(), 32);
  const QRgb highlight = wait_.palette().color(QPalette::Highlight).rgb();
  wait_.SetCaption("60");
  wait_.Start();  // StartCount 60: the bar spans the inner width
  QImage full = wait_.grab().toImage();
  wait_.SetCaption("15");
  QImage quarter = wait_.grab().toImage();
  wait_.Stop();

  EXPECT_EQ(full.pixel(0, 0), QColor(Qt::black).rgb());            // the frame
  EXPECT_EQ(full.pixel(190 - 4, 20), highlight);                   // bar near its right end
  EXPECT_EQ(quarter.pixel(190 - 4, 20), QColor(Qt::white).rgb());  // shrunk: white there
  EXPECT_EQ(quarter.pixel(30, 26), highlight);                     // but still at its left end
  // The count is drawn: the text area differs between "60" and "15".
  EXPECT_NE(full.copy(4, 8, 20, 14), quarter.copy(4, 8, 20, 14));
}

// A socket on the GUI thread waiting through the control against a loopback peer.
class SingleThreadedSocketTest : public WaitTest {
 protected:
  SingleThreadedSocketTest() {
    wait_.SetInterval(100);
    sock_.SetMultiThreaded(false);
    sock_.SetWaitCtrl(&wait_);
    sock_.SetProto("tcp");
    sock_.SetAddr("127.0.0.1");
    sock_.SetPort(std::to_string(server_.port));
  }
  void Connect() {
    sock_.Connect();
    ASSERT_TRUE(sock_.Wait(5, wsConnected));
    peer_ = server_.Accept();
  }
  QueueBridge bridge_;
  test::PlainServer server_;
  TWSocket sock_;
  test::Fd peer_;
};

TEST_F(SingleThreadedSocketTest, WaitForTheConnectionEndsWhenItStands) {
  Connect();
  EXPECT_EQ(wait_.ModalResult(), 1);  // stopped by the state change, not run out
  EXPECT_FALSE(wait_.Visible());
  EXPECT_EQ(sock_.State(), wsConnected);
}

TEST_F(SingleThreadedSocketTest, ReadLineWaitsThroughTheControlForTheLine) {
  Connect();
  // The peer answers only once the countdown runs, so the line arrives during Run.
  wait_.OnWaitStart = [&](TCustomWait*) { test::SendAll(peer_.fd, "+OK ready\r\n"); };
  std::string line;
  sock_.ReadLine(5, line);
  EXPECT_EQ(line, "+OK ready");  // the line without its end
  EXPECT_EQ(wait_.ModalResult(), 1);

  // Nothing comes: the countdown runs out and the line stays empty.
  wait_.OnWaitStart = nullptr;
  wait_.SetInterval(10);
  sock_.ReadLine(2, line);
  EXPECT_EQ(line, "");
  EXPECT_EQ(wait_.ModalResult(), 2);
}

TEST_F(SingleThreadedSocketTest, FlushSendsEverythingWhileTheApplicationTurns) {
  // Small socket buffers on both ends, so the data can't all go out at once.
  const int small = 16384;
  ::setsockopt(server_.sock.fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  Connect();
  ::setsockopt(sock_.Handle(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  ::fcntl(peer_.fd, F_SETFL, ::fcntl(peer_.fd, F_GETFL) | O_NONBLOCK);
  const std::string data(1 << 20, 'x');
  std::size_t received = 0;
  QTimer reader;  // the peer reads in steps on the same thread, driven by the event loop
  QObject::connect(&reader, &QTimer::timeout, [&] {
    char buf[65536];
    ssize_t n;
    while ((n = ::recv(peer_.fd, buf, sizeof buf, 0)) > 0) received += static_cast<std::size_t>(n);
  });
  reader.start(1);
  sock_.SendStr(data);
  EXPECT_FALSE(sock_.AllSent());
  sock_.Flush();
  EXPECT_TRUE(sock_.AllSent());
  EXPECT_FALSE(wait_.Running());
  ASSERT_TRUE(QTest::qWaitFor([&] { return received == data.size(); }, 5000));
}

}  // namespace
}  // namespace dovrik
