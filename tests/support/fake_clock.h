// A clock the test moves by hand, substituted process-wide for the real one.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/clock.h"
#include "platform/message_queue.h"

namespace dovrik::testsupport {

// Stands still unless moved, or moves by step seconds at every reading. It counts the readings
// made off the main thread, so a test can tell that a worker has reached its next reading.
class FakeClock : public platform::Clock {
 public:
  explicit FakeClock(double step = 0) : step_(step) {}
  double Seconds() override {
    std::lock_guard<std::mutex> guard(mutex_);
    const double now = now_;
    now_ += step_;
    if (!platform::IsMainThread()) {
      ++worker_reads_;
      read_.notify_all();
    }
    return now;
  }
  void Set(double now) {
    std::lock_guard<std::mutex> guard(mutex_);
    now_ = now;
  }
  double Now() {
    std::lock_guard<std::mutex> guard(mutex_);
    return now_;
  }
  void Advance(double seconds) {
    std::lock_guard<std::mutex> guard(mutex_);
    now_ += seconds;
  }
  // Waits (bounded) until workers have read the clock n more times.
  bool AwaitWorkerReads(int n, std::chrono::milliseconds bound = std::chrono::seconds(5)) {
    std::unique_lock<std::mutex> lock(mutex_);
    const long target = worker_reads_ + n;
    return read_.wait_for(lock, bound, [&] { return worker_reads_ >= target; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable read_;
  double now_ = 1000.0;
  double step_;
  long worker_reads_ = 0;
};

// Substitutes a clock for the length of a scope.
struct ClockOverride {
  explicit ClockOverride(platform::Clock* c) { platform::SetClock(c); }
  ~ClockOverride() { platform::SetClock(nullptr); }
  ClockOverride(const ClockOverride&) = delete;
  ClockOverride& operator=(const ClockOverride&) = delete;
};

}  // namespace dovrik::testsupport
