#include "platform/thread.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

#include "platform/message_queue.h"
#include "tests/support/pump_until.h"

namespace dovrik::platform {
namespace {

using testsupport::PumpUntil;

class FnThread : public Thread {
 public:
  explicit FnThread(std::function<void(FnThread&)> body) : Thread(true), body_(std::move(body)) {}
  ~FnThread() override {
    Terminate();
    WaitFor();
  }
  using Thread::Synchronize;

 protected:
  void Execute() override { body_(*this); }

 private:
  std::function<void(FnThread&)> body_;
};

TEST(Thread, StartsOnResumeAndSynchronizeRunsOnTheMainThread) {
  std::thread::id ran_on;
  std::atomic<bool> started{false};
  std::atomic<bool> synced{false};
  FnThread t([&](FnThread& self) {
    started = true;
    EXPECT_TRUE(self.Synchronize([&] { ran_on = std::this_thread::get_id(); }));
    synced = true;
  });
  EXPECT_FALSE(started.load());  // created suspended
  t.Resume();
  t.Resume();  // a second resume does nothing
  ASSERT_TRUE(PumpUntil([&] { return ran_on != std::thread::id(); }));
  EXPECT_EQ(ran_on, std::this_thread::get_id());
  t.WaitFor();
  EXPECT_TRUE(synced.load());
  EXPECT_TRUE(t.Finished());
}

TEST(Thread, SynchronizeOnTheMainThreadRunsAtOnce) {
  bool ran = false;
  EXPECT_TRUE(RunOnMainThread([&] { ran = true; }));
  EXPECT_TRUE(ran);
}

TEST(Thread, WaitForOnTheMainThreadServesSynchronize) {
  int value = 0;
  FnThread t([&](FnThread& self) {
    for (int i = 0; i < 3; ++i) self.Synchronize([&] { ++value; });
  });
  t.Resume();
  t.WaitFor();  // would deadlock if it did not run the worker's calls
  EXPECT_EQ(value, 3);
}

TEST(Thread, ExceptionsTravelAsValues) {
  std::atomic<bool> caught{false};
  FnThread t([&](FnThread& self) {
    try {
      self.Synchronize([] { throw std::runtime_error("on main"); });
    } catch (const std::runtime_error& e) {
      caught = std::string(e.what()) == "on main";
    }
    throw std::logic_error("from run");
  });
  t.Resume();
  t.WaitFor();
  EXPECT_TRUE(caught.load());
  ASSERT_TRUE(t.FatalException());
  EXPECT_THROW(std::rethrow_exception(t.FatalException()), std::logic_error);
}

TEST(Thread, TerminateIsSeenByTheRun) {
  std::atomic<bool> running{false};
  FnThread t([&](FnThread& self) {
    running = true;
    while (!self.Terminated()) std::this_thread::yield();
  });
  t.Resume();
  while (!running.load()) std::this_thread::yield();
  t.Terminate();
  t.WaitFor();
  EXPECT_TRUE(t.Terminated());
}

// Reports its own destruction to the main thread, as a session does at its end.
class SelfFreeing : public Thread {
 public:
  SelfFreeing(std::thread::id* dtor_on, bool* done) : Thread(true), dtor_on_(dtor_on), done_(done) {
    SetFreeOnTerminate(true);
  }
  ~SelfFreeing() override {
    const auto me = std::this_thread::get_id();
    Synchronize([this, me] {
      *dtor_on_ = me;
      *done_ = true;
    });
  }

 protected:
  void Execute() override {}

 private:
  std::thread::id* dtor_on_;
  bool* done_;
};

TEST(Thread, FreeOnTerminateDestroysItselfOnItsOwnThread) {
  std::thread::id dtor_on;
  bool done = false;
  auto t = std::make_unique<SelfFreeing>(&dtor_on, &done);
  t.release()->Resume();  // owns itself from here on
  ASSERT_TRUE(PumpUntil([&] { return done; }));
  EXPECT_NE(dtor_on, std::this_thread::get_id());
  EXPECT_NE(dtor_on, std::thread::id());
}

TEST(Thread, StopSynchronizeReleasesAWaitingWorker) {
  std::atomic<int> result{-1};
  bool ran = false;
  FnThread t([&](FnThread& self) { result = self.Synchronize([&] { ran = true; }) ? 1 : 0; });
  t.Resume();
  ASSERT_TRUE(WaitMessages(5000));  // the worker's request has reached the main queue
  StopSynchronize();                // the main thread stops serving, e.g. at shutdown
  t.WaitFor();
  EXPECT_EQ(result.load(), 0);
  EXPECT_FALSE(ran);
  bool later = false;
  FnThread t2([&](FnThread& self) { later = self.Synchronize([] {}); });
  t2.Resume();
  t2.WaitFor();
  EXPECT_FALSE(later);  // refused at once while stopped
  SetMainThread();      // serving again
  PumpMessages();
  EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace dovrik::platform
