#include "platform/timer.h"

#include <sys/epoll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include "platform/thread_queue.h"

namespace dovrik::platform {

// The timer's own timerfd, watched by its thread's queue. A restart bumps the generation, so a
// tick that was already queued under the old settings is dropped, and at most one tick per timer
// waits in the queue at a time.
struct Timer::Impl final : detail::Source {
  Timer* owner = nullptr;
  std::shared_ptr<detail::Queue> queue;
  int tfd = -1;
  unsigned interval = 1000;
  bool enabled = false;
  std::uint64_t generation = 0;
  bool pending = false;

  ~Impl() override {
    if (queue) {
      queue->Control(EPOLL_CTL_DEL, tfd, id, 0);
      queue->RemoveSource(id);
    }
    if (tfd >= 0) close(tfd);
  }

  void Restart() {
    ++generation;
    pending = false;
    if (tfd < 0) return;
    itimerspec spec{};
    if (enabled && interval > 0) {
      spec.it_value.tv_sec = interval / 1000;
      spec.it_value.tv_nsec = static_cast<long>(interval % 1000) * 1000000L;
      spec.it_interval = spec.it_value;
    }
    timerfd_settime(tfd, 0, &spec, nullptr);  // also clears expirations not yet read
  }

  void OnReady(detail::Queue& q, std::uint32_t) override {
    std::uint64_t expirations = 0;
    if (read(tfd, &expirations, sizeof expirations) != sizeof expirations) return;
    if (pending || !enabled || interval == 0) return;
    pending = true;
    detail::Entry e;
    e.source = id;
    e.tag = generation;
    q.PushLocal(std::move(e));
  }

  bool Dispatch(detail::Queue&, const detail::Entry& e) override {
    if (e.tag != generation) return false;
    pending = false;
    if (!enabled || interval == 0) return false;
    // A copy: the callback may destroy the timer, and with it OnTimer.
    std::function<void()> call = owner->OnTimer;
    if (call) call();
    return true;
  }
};

Timer::Timer() : impl_(std::make_unique<Impl>()) {
  impl_->owner = this;
  impl_->queue = detail::Queue::CurrentShared();
  if (!impl_->queue) return;  // thread exiting: an inert timer
  impl_->tfd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  impl_->queue->AddSource(impl_.get());
  if (impl_->tfd >= 0) impl_->queue->Control(EPOLL_CTL_ADD, impl_->tfd, impl_->id, EPOLLIN);
}

Timer::~Timer() = default;

void Timer::SetInterval(unsigned ms) {
  if (ms == impl_->interval) return;
  impl_->interval = ms;
  impl_->Restart();
}

unsigned Timer::Interval() const {
  return impl_->interval;
}

void Timer::SetEnabled(bool on) {
  if (on == impl_->enabled) return;
  impl_->enabled = on;
  impl_->Restart();
}

bool Timer::Enabled() const {
  return impl_->enabled;
}

}  // namespace dovrik::platform
