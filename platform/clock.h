// Monotonic time, substitutable by tests so long time-outs can be tested without waiting.
#pragma once

#include <cstdint>

namespace dovrik::platform {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual double Seconds() = 0;  // monotonic, arbitrary origin
};

double NowSeconds();          // through the current clock
std::uint64_t TickCountMs();  // through the current clock, in ms
// Replaces the process-wide clock (nullptr restores the real one). The caller keeps ownership
// and must restore before destroying it. Thread-safe.
void SetClock(Clock* clock);

}  // namespace dovrik::platform
