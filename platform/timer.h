// A timer on the queue of the thread that creates it: fires only while that thread dispatches.
// Create, change and destroy it on that thread. Destroying it from inside its own OnTimer is
// safe. Ticks do not pile up: a tick not yet dispatched absorbs later expirations.
#pragma once

#include <functional>
#include <memory>

namespace dovrik::platform {

class Timer {
 public:
  Timer();  // disabled, interval 1000 ms, on the calling thread's queue
  ~Timer();
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  // Changing either (to a different value) restarts the interval from zero when enabled.
  // Interval 0 never fires. A tick already queued under the old settings is dropped.
  void SetInterval(unsigned ms);
  unsigned Interval() const;
  void SetEnabled(bool on);
  bool Enabled() const;
  std::function<void()> OnTimer;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace dovrik::platform
