// Serving the calling thread's queue in tests: until a condition holds, with a bound, never by
// sleeping.
#pragma once

#include <chrono>
#include <functional>

#include "platform/message_queue.h"

namespace dovrik::testsupport {

// Pumps until done() holds or the bound passes; true when done() held. Between pumps it blocks
// until a message is ready, at most 50 ms, so a condition changed by another thread is seen soon.
inline bool PumpUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds bound = std::chrono::seconds(5)) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + bound;
  for (;;) {
    platform::PumpMessages();
    if (done()) return true;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    platform::WaitMessages(static_cast<int>(left < 50 ? left : 50));
  }
}

inline bool PumpUntil(const std::function<bool()>& done, int bound_ms) {
  return PumpUntil(done, std::chrono::milliseconds(bound_ms));
}

// Pumps for a while and returns how many messages were dispatched: used to show that nothing
// more arrives (a bound, not a synchronisation).
inline int PumpFor(int ms) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  int n = 0;
  for (;;) {
    n += platform::PumpMessages();
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return n;
    platform::WaitMessages(static_cast<int>(left));
  }
}

}  // namespace dovrik::testsupport
