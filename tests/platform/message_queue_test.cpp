#include "platform/message_queue.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <thread>
#include <vector>

#include "tests/support/pump_until.h"

namespace dovrik::platform {
namespace {

using testsupport::PumpUntil;

bool Readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

struct Recorder {
  std::vector<Message> got;
  std::vector<std::thread::id> threads;
  WindowHandle window = AllocateHWnd([this](const Message& m) {
    got.push_back(m);
    threads.push_back(std::this_thread::get_id());
  });
  ~Recorder() { DeallocateHWnd(window); }
};

TEST(MessageQueue, CrossThreadPostIsDispatchedOnlyWhenTheOwnerPumps) {
  Recorder r;
  PumpMessages();  // start from an empty queue
  const int fd = QueueDescriptor();
  EXPECT_FALSE(Readable(fd));
  std::thread([&] { EXPECT_TRUE(PostMessage(r.window, kUserMessage, 7, -3)); }).join();
  EXPECT_TRUE(r.got.empty());
  EXPECT_TRUE(Readable(fd));  // what a QSocketNotifier relies on
  EXPECT_TRUE(WaitMessages(5000));
  EXPECT_TRUE(r.got.empty());    // waiting dispatches nothing
  EXPECT_TRUE(WaitMessages(0));  // and what is ready stays ready
  EXPECT_EQ(PumpMessages(), 1);
  ASSERT_EQ(r.got.size(), 1u);
  EXPECT_EQ(r.got[0].msg, kUserMessage);
  EXPECT_EQ(r.got[0].wparam, 7u);
  EXPECT_EQ(r.got[0].lparam, -3);
  EXPECT_EQ(r.threads[0], std::this_thread::get_id());
  EXPECT_FALSE(Readable(fd));
  EXPECT_EQ(PumpMessages(), 0);
}

TEST(MessageQueue, PostingToAGoneWindowFailsAndHandlesAreNotReused) {
  WindowHandle w = AllocateHWnd([](const Message&) {});
  EXPECT_NE(w, 0u);
  DeallocateHWnd(w);
  EXPECT_FALSE(PostMessage(w, kUserMessage, 0, 0));
  WindowHandle again = AllocateHWnd([](const Message&) {});
  EXPECT_NE(again, w);
  DeallocateHWnd(again);
  EXPECT_FALSE(PostMessage(0, kUserMessage, 0, 0));

  // A window of a thread that has ended.
  WindowHandle dead = 0;
  std::thread([&] { dead = AllocateHWnd([](const Message&) {}); }).join();
  EXPECT_NE(dead, 0u);
  EXPECT_FALSE(PostMessage(dead, kUserMessage, 0, 0));
}

TEST(MessageQueue, QueuedMessagesOfADeallocatedWindowAreDropped) {
  int calls = 0;
  WindowHandle w = AllocateHWnd([&](const Message&) { ++calls; });
  ASSERT_TRUE(PostMessage(w, kUserMessage, 0, 0));
  ASSERT_TRUE(WaitMessages(5000));  // harvested, not yet dispatched
  DeallocateHWnd(w);
  EXPECT_EQ(PumpMessages(), 0);
  EXPECT_EQ(calls, 0);
}

TEST(MessageQueue, HandlerMayPumpFromInsideADispatch) {
  std::vector<int> order;
  WindowHandle other = 0;
  int other_calls = 0;
  WindowHandle w = AllocateHWnd([&](const Message& m) {
    order.push_back(static_cast<int>(m.wparam));
    if (m.wparam == 1) {
      // Nested pump: runs 2, and must not call the window deallocated here again.
      DeallocateHWnd(other);
      PumpMessages();
      order.push_back(100);
    }
  });
  other = AllocateHWnd([&](const Message&) { ++other_calls; });
  ASSERT_TRUE(PostMessage(w, kUserMessage, 1, 0));
  ASSERT_TRUE(PostMessage(other, kUserMessage, 0, 0));
  ASSERT_TRUE(PostMessage(w, kUserMessage, 2, 0));
  EXPECT_TRUE(PumpUntil([&] { return order.size() == 3; }));
  EXPECT_EQ(order, (std::vector<int>{1, 2, 100}));
  EXPECT_EQ(other_calls, 0);
  EXPECT_EQ(PumpMessages(), 0);
  DeallocateHWnd(w);
}

TEST(MessageQueue, HandlerMayDeallocateItsOwnWindow) {
  int calls = 0;
  WindowHandle w = 0;
  w = AllocateHWnd([&](const Message&) {
    ++calls;
    DeallocateHWnd(w);  // the running handler finishes normally
    ++calls;
  });
  ASSERT_TRUE(PostMessage(w, kUserMessage, 0, 0));
  ASSERT_TRUE(PostMessage(w, kUserMessage, 0, 0));
  PumpMessages();
  EXPECT_EQ(calls, 2);
}

TEST(MessageQueue, APumpDoesNotChaseMessagesPostedDuringIt) {
  int calls = 0;
  WindowHandle w = 0;
  w = AllocateHWnd([&](const Message&) {
    ++calls;
    PostMessage(w, kUserMessage, 0, 0);  // a handler that always posts again
  });
  ASSERT_TRUE(PostMessage(w, kUserMessage, 0, 0));
  EXPECT_EQ(PumpMessages(), 1);
  EXPECT_TRUE(Readable(QueueDescriptor()));  // the repost is waiting
  EXPECT_EQ(PumpMessages(), 1);
  EXPECT_EQ(calls, 2);
  DeallocateHWnd(w);
  PumpMessages();
}

TEST(MessageQueue, LeftoverAfterANestedPumpKeepsTheDescriptorReadable) {
  // The outer pump is limited to what was ready when it began; a message harvested by a nested
  // pump but beyond its own limit stays queued and must keep the descriptor readable.
  Recorder r;
  WindowHandle w = AllocateHWnd([&](const Message&) {
    std::thread([&] { PostMessage(r.window, kUserMessage, 5, 0); }).join();
    WaitMessages(5000);  // harvests the cross-thread post without dispatching it
  });
  ASSERT_TRUE(PostMessage(w, kUserMessage, 0, 0));
  EXPECT_EQ(PumpMessages(), 1);
  EXPECT_TRUE(r.got.empty());
  EXPECT_TRUE(Readable(QueueDescriptor()));
  EXPECT_TRUE(WaitMessages(0));
  EXPECT_EQ(PumpMessages(), 1);
  EXPECT_EQ(r.got.size(), 1u);
  DeallocateHWnd(w);
}

TEST(MessageQueue, WaitMessagesIsBounded) {
  PumpMessages();
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_FALSE(WaitMessages(30));
  auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
          .count();
  EXPECT_GE(ms, 29);
  EXPECT_LT(ms, 2000);
}

TEST(MessageQueue, PostMessageWhileDropsWithdrawnMessages) {
  Recorder r;
  auto valid = std::make_shared<std::atomic<bool>>(true);
  ASSERT_TRUE(PostMessageWhile(r.window, kUserMessage, 1, 0, valid));
  ASSERT_TRUE(PostMessageWhile(r.window, kUserMessage, 2, 0, nullptr));
  valid->store(false);
  EXPECT_TRUE(PumpUntil([&] { return !r.got.empty(); }));
  ASSERT_EQ(r.got.size(), 1u);
  EXPECT_EQ(r.got[0].wparam, 2u);
}

TEST(MessageQueue, ConcurrentPostersLoseNothingAndKeepTheirOrder) {
  constexpr int kPosters = 4;
  constexpr int kEach = 2000;
  std::vector<int> next(kPosters, 0);
  int total = 0;
  bool in_order = true;
  WindowHandle w = AllocateHWnd([&](const Message& m) {
    int poster = static_cast<int>(m.wparam);
    in_order = in_order && m.lparam == next[poster];
    next[poster] = static_cast<int>(m.lparam) + 1;
    ++total;
  });
  std::vector<std::thread> posters;
  for (int p = 0; p < kPosters; ++p)
    posters.emplace_back([w, p] {
      for (int i = 0; i < kEach; ++i) PostMessage(w, kUserMessage, p, i);
    });
  EXPECT_TRUE(PumpUntil([&] { return total == kPosters * kEach; }));
  for (auto& t : posters) t.join();
  EXPECT_TRUE(in_order);
  DeallocateHWnd(w);
}

TEST(MessageQueue, MainThreadIsTheOneThatSetIt) {
  EXPECT_TRUE(IsMainThread());
  bool other = true;
  std::thread([&] { other = IsMainThread(); }).join();
  EXPECT_FALSE(other);
}

}  // namespace
}  // namespace dovrik::platform
