#include "platform/clock.h"

#include <gtest/gtest.h>

#include <thread>

#include "tests/support/fake_clock.h"

namespace dovrik::platform {
namespace {

TEST(Clock, RealClockIsMonotonicAndCanBeSubstituted) {
  double a = NowSeconds();
  double b = NowSeconds();
  EXPECT_LE(a, b);
  testsupport::FakeClock fake;
  SetClock(&fake);
  EXPECT_EQ(NowSeconds(), 1000.0);
  EXPECT_EQ(TickCountMs(), 1000000u);
  fake.Set(1011.5);
  double seen = 0;
  std::thread([&] { seen = NowSeconds(); }).join();  // process-wide
  EXPECT_EQ(seen, 1011.5);
  EXPECT_EQ(TickCountMs(), 1011500u);
  SetClock(nullptr);
  EXPECT_GE(NowSeconds(), b);
}

}  // namespace
}  // namespace dovrik::platform
