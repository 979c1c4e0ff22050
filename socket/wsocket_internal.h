// Helpers shared by the socket component's source files.
#pragma once

#include <algorithm>
#include <cstdint>

#include "platform/clock.h"
#include "platform/message_queue.h"

namespace dovrik {

namespace detail {

// Pumps the calling thread's queue until done() or the deadline on the tick count. Between
// pumps it blocks until the next message is ready (never longer than a tenth of a second, so
// a substituted clock is read often enough); it never spins on an empty queue.
template <typename Done>
inline void PumpUntil(std::uint64_t deadline, Done done) {
  while (platform::TickCountMs() < deadline && !done()) {
    platform::PumpMessages();
    if (done()) break;
    const std::uint64_t now = platform::TickCountMs();
    if (now >= deadline) break;
    platform::WaitMessages(static_cast<int>(std::min<std::uint64_t>(deadline - now, 100)));
  }
}

inline std::uint64_t DeadlineAfter(int seconds) {
  const std::int64_t ms = static_cast<std::int64_t>(seconds) * 1000;
  const std::uint64_t now = platform::TickCountMs();
  return ms <= 0 ? now : now + static_cast<std::uint64_t>(ms);
}

}  // namespace detail

}  // namespace dovrik
