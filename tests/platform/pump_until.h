// Test helper: serve the calling thread's queue until a condition holds or a deadline passes.
#pragma once

#include <chrono>
#include <functional>

#include "platform/message_queue.h"

namespace dovrik::platform::testing {

inline bool PumpUntil(const std::function<bool()>& done, int timeout_ms = 5000) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    PumpMessages();
    if (done()) return true;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    WaitMessages(static_cast<int>(left.count()));
  }
}

// Pumps for a while and returns how many messages were dispatched: used to show that nothing
// more arrives (a bound, not a synchronisation).
inline int PumpFor(int ms) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  int n = 0;
  for (;;) {
    n += PumpMessages();
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return n;
    WaitMessages(static_cast<int>(left.count()));
  }
}

}  // namespace dovrik::platform::testing
