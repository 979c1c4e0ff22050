#include "platform/timer.h"

#include <gtest/gtest.h>

#include <thread>

#include "tests/support/pump_until.h"

namespace dovrik::platform {
namespace {

using testsupport::PumpFor;
using testsupport::PumpUntil;

TEST(Timer, FiresOnItsThreadOnlyWhileItDispatches) {
  Timer t;
  EXPECT_FALSE(t.Enabled());
  EXPECT_EQ(t.Interval(), 1000u);
  int fired = 0;
  std::thread::id where;
  t.OnTimer = [&] {
    ++fired;
    where = std::this_thread::get_id();
  };
  t.SetInterval(10);
  t.SetEnabled(true);
  ASSERT_TRUE(WaitMessages(5000));  // expired, but nobody dispatched
  EXPECT_EQ(fired, 0);
  ASSERT_TRUE(PumpUntil([&] { return fired >= 3; }));
  EXPECT_EQ(where, std::this_thread::get_id());
  t.SetEnabled(false);
  int before = fired;
  EXPECT_EQ(PumpFor(40), 0);
  EXPECT_EQ(fired, before);
}

TEST(Timer, IntervalZeroNeverFires) {
  Timer zero;
  int zero_fired = 0;
  zero.OnTimer = [&] { ++zero_fired; };
  zero.SetInterval(0);
  zero.SetEnabled(true);
  Timer reference;
  int ref_fired = 0;
  reference.OnTimer = [&] { ++ref_fired; };
  reference.SetInterval(10);
  reference.SetEnabled(true);
  ASSERT_TRUE(PumpUntil([&] { return ref_fired >= 3; }));
  EXPECT_EQ(zero_fired, 0);
}

TEST(Timer, ATickQueuedBeforeARestartOrDisableIsDropped) {
  Timer t;
  int fired = 0;
  t.OnTimer = [&] { ++fired; };
  t.SetInterval(5);
  t.SetEnabled(true);
  ASSERT_TRUE(WaitMessages(5000));
  t.SetEnabled(false);
  EXPECT_EQ(PumpMessages(), 0);
  t.SetEnabled(true);
  ASSERT_TRUE(WaitMessages(5000));
  t.SetInterval(60000);  // restarts from zero: the queued tick is stale
  EXPECT_EQ(PumpFor(20), 0);
  EXPECT_EQ(fired, 0);
}

TEST(Timer, MayBeDestroyedFromItsOwnCallback) {
  auto t = std::make_unique<Timer>();
  int fired = 0;
  t->OnTimer = [&] {
    ++fired;
    t.reset();
  };
  t->SetInterval(1);
  t->SetEnabled(true);
  ASSERT_TRUE(PumpUntil([&] { return fired == 1; }));
  EXPECT_EQ(PumpFor(20), 0);
  EXPECT_EQ(fired, 1);
}

TEST(Timer, ATimerOfAWorkerFiresOnTheWorker) {
  std::thread::id where;
  int fired = 0;
  std::thread worker([&] {
    Timer t;
    t.OnTimer = [&] {
      ++fired;
      where = std::this_thread::get_id();
    };
    t.SetInterval(5);
    t.SetEnabled(true);
    EXPECT_TRUE(PumpUntil([&] { return fired >= 2; }));
  });
  const std::thread::id worker_id = worker.get_id();
  EXPECT_EQ(PumpFor(20), 0);  // the main thread's pumping has nothing of it
  worker.join();
  EXPECT_EQ(where, worker_id);
}

}  // namespace
}  // namespace dovrik::platform
