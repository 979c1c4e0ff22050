#include "platform/host_lookup.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "tests/support/pump_until.h"

namespace dovrik::platform {
namespace {

using testsupport::PumpFor;
using testsupport::PumpUntil;

constexpr std::uint32_t kLookupMsg = kUserMessage + 2;

bool AllLoopback(const std::vector<std::uint32_t>& addrs) {
  for (auto a : addrs)
    if ((ntohl(a) >> 24) != 127) return false;
  return !addrs.empty();
}

class HostLookupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window_ = AllocateHWnd([this](const Message& m) { got_.push_back(m); });
  }
  void TearDown() override { DeallocateHWnd(window_); }
  WindowHandle window_ = 0;
  std::vector<Message> got_;
};

TEST_F(HostLookupTest, LocalNamesPostTheirResult) {
  for (const char* name : {"localhost", "127.0.0.1"}) {
    got_.clear();
    LookupTask task = StartHostLookup(name, window_, kLookupMsg);
    ASSERT_NE(task, 0u);
    ASSERT_TRUE(PumpUntil([&] { return !got_.empty(); })) << name;
    EXPECT_EQ(got_[0].msg, kLookupMsg);
    EXPECT_EQ(got_[0].wparam, task);
    EXPECT_EQ(got_[0].lparam >> 16, 0);
    LookupResult r;
    ASSERT_TRUE(TakeLookupResult(task, r));
    EXPECT_EQ(r.error, 0);
    EXPECT_TRUE(AllLoopback(r.addrs)) << name;
    EXPECT_FALSE(TakeLookupResult(task, r));  // once
  }
}

TEST_F(HostLookupTest, ACancelledLookupPostsNothingEvenWhenItsMessageIsQueued) {
  LookupTask task = StartHostLookup("127.0.0.1", window_, kLookupMsg);
  ASSERT_NE(task, 0u);
  ASSERT_TRUE(WaitMessages(5000));  // finished and queued
  EXPECT_TRUE(CancelHostLookup(task));
  EXPECT_FALSE(CancelHostLookup(task));
  EXPECT_EQ(PumpFor(20), 0);
  EXPECT_TRUE(got_.empty());
  LookupResult r;
  EXPECT_FALSE(TakeLookupResult(task, r));
}

TEST_F(HostLookupTest, ALookupForAGoneWindowIsHarmless) {
  WindowHandle gone = AllocateHWnd([](const Message&) { ADD_FAILURE(); });
  LookupTask task = StartHostLookup("localhost", gone, kLookupMsg);
  DeallocateHWnd(gone);
  // A superseding look-up for the live window: its result proves the helper threads ran.
  LookupTask second = StartHostLookup("localhost", window_, kLookupMsg);
  ASSERT_TRUE(PumpUntil([&] { return !got_.empty(); }));
  EXPECT_EQ(got_[0].wparam, second);
  CancelHostLookup(task);
}

TEST(HostLookup, BlockingLookup) {
  std::vector<std::uint32_t> addrs;
  EXPECT_EQ(ResolveHostBlocking("127.0.0.1", addrs), 0);
  ASSERT_EQ(addrs.size(), 1u);
  EXPECT_EQ(addrs[0], htonl(INADDR_LOOPBACK));
  EXPECT_EQ(ResolveHostBlocking("localhost", addrs), 0);
  EXPECT_TRUE(AllLoopback(addrs));
}

}  // namespace
}  // namespace dovrik::platform
