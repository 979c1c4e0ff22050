#include "platform/clock.h"

#include <time.h>

#include <atomic>

namespace dovrik::platform {
namespace {

// nullptr means the real monotonic clock; a plain atomic pointer keeps reads lock-free.
std::atomic<Clock*> g_clock{nullptr};

double RealSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

}  // namespace

double NowSeconds() {
  Clock* c = g_clock.load(std::memory_order_acquire);
  return c ? c->Seconds() : RealSeconds();
}

std::uint64_t TickCountMs() {
  double s = NowSeconds();
  return s <= 0 ? 0 : static_cast<std::uint64_t>(s * 1000.0);
}

void SetClock(Clock* clock) {
  g_clock.store(clock, std::memory_order_release);
}

}  // namespace dovrik::platform
