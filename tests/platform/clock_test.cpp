#include "platform/clock.h"

#include <gtest/gtest.h>

#include <thread>

namespace dovrik::platform {
namespace {

struct FakeClock : Clock {
  std::atomic<double> now{1000.0};
  double Seconds() override { return now.load(); }
};

TEST(Clock, RealClockIsMonotonicAndCanBeSubstituted) {
  double a = NowSeconds();
  double b = NowSeconds();
  EXPECT_LE(a, b);
  FakeClock fake;
  SetClock(&fake);
  EXPECT_EQ(NowSeconds(), 1000.0);
  EXPECT_EQ(TickCountMs(), 1000000u);
  fake.now = 1011.5;
  double seen = 0;
  std::thread([&] { seen = NowSeconds(); }).join();  // process-wide
  EXPECT_EQ(seen, 1011.5);
  EXPECT_EQ(TickCountMs(), 1011500u);
  SetClock(nullptr);
  EXPECT_GE(NowSeconds(), b);
}

}  // namespace
}  // namespace dovrik::platform
