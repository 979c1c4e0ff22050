// The signals that end the user's session reach the handler function on the GUI thread, from the
// event loop, and the earlier dispositions come back afterwards.
#include "app/session_end.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <QCoreApplication>
#include <QTest>
#include <QThread>

namespace dovrik {
namespace {

extern "C" void Sentinel(int) {}

TEST(SessionEnd, EachSignalCallsTheHandlerOnTheGuiThread) {
  for (int number : {SIGTERM, SIGHUP, SIGINT}) {
    int calls = 0;
    bool on_gui_thread = false;
    SessionEnd session([&] {
      ++calls;
      on_gui_thread = QThread::currentThread() == QCoreApplication::instance()->thread();
    });
    ASSERT_TRUE(session.installed());
    ASSERT_EQ(::raise(number), 0);
    EXPECT_EQ(calls, 0) << "the handler waits for the event loop";
    EXPECT_TRUE(QTest::qWaitFor([&] { return calls > 0; }, 10000)) << number;
    EXPECT_EQ(calls, 1) << number;
    EXPECT_TRUE(on_gui_thread);
  }
}

TEST(SessionEnd, SignalsBeforeTheLoopRunsMakeOneCall) {
  int calls = 0;
  SessionEnd session([&] { ++calls; });
  ::raise(SIGTERM);
  ::raise(SIGHUP);
  ASSERT_TRUE(QTest::qWaitFor([&] { return calls > 0; }, 10000));
  QCoreApplication::processEvents();
  EXPECT_EQ(calls, 1);
}

TEST(SessionEnd, OneAtATimeAndTheOldDispositionsComeBack) {
  struct sigaction mine {
  }, old[3], now{};
  mine.sa_handler = Sentinel;
  sigemptyset(&mine.sa_mask);
  const int numbers[] = {SIGTERM, SIGHUP, SIGINT};
  for (int i = 0; i < 3; ++i) ASSERT_EQ(::sigaction(numbers[i], &mine, &old[i]), 0);
  {
    SessionEnd first([] {});
    SessionEnd second([] {});
    EXPECT_TRUE(first.installed());
    EXPECT_FALSE(second.installed());
    ::sigaction(SIGTERM, nullptr, &now);
    EXPECT_NE(now.sa_handler, Sentinel);
  }
  for (int i = 0; i < 3; ++i) {
    ::sigaction(numbers[i], &old[i], &now);
    EXPECT_EQ(now.sa_handler, Sentinel) << numbers[i];
  }
  SessionEnd again([] {});
  EXPECT_TRUE(again.installed());
}

}  // namespace
}  // namespace dovrik
