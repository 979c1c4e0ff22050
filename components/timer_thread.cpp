#include "components/timer_thread.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <system_error>

#include "components/rx_tray.h"

namespace dovrik {

TTimerThread::TTimerThread(TRxTray* owner_tray, unsigned interval_ms, bool create_suspended)
    : QObject(owner_tray),
      owner_(owner_tray),
      interval_ms_(interval_ms),
      suspended_(create_suspended) {
  event_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (event_fd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
  notifier_ = new QSocketNotifier(event_fd_, QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &TTimerThread::OnReadable);
  worker_ = std::thread([this] { Execute(); });
}

TTimerThread::~TTimerThread() {
  {
    std::lock_guard lock(mutex_);
    terminated_ = true;
  }
  cv_.notify_all();
  if (worker_.joinable()) worker_.join();
  notifier_->setEnabled(false);
  close(event_fd_);
}

void TTimerThread::Resume() {
  {
    std::lock_guard lock(mutex_);
    suspended_ = false;
  }
  cv_.notify_all();
}

void TTimerThread::Suspend() {
  {
    std::lock_guard lock(mutex_);
    suspended_ = true;
  }
  cv_.notify_all();
}

void TTimerThread::Terminate() {
  {
    std::lock_guard lock(mutex_);
    terminated_ = true;
  }
  cv_.notify_all();
}

void TTimerThread::SetInterval(unsigned ms) {
  std::lock_guard lock(mutex_);
  interval_ms_ = ms;  // used from the next wait on
}

bool TTimerThread::Suspended() const {
  std::lock_guard lock(mutex_);
  return suspended_;
}

bool TTimerThread::Terminated() const {
  std::lock_guard lock(mutex_);
  return terminated_;
}

bool TTimerThread::Parked() const {
  std::lock_guard lock(mutex_);
  return parked_;
}

bool TTimerThread::WaitParked(int timeout_ms) const {
  std::unique_lock lock(mutex_);
  return cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                      [this] { return parked_ || ended_; });
}

void TTimerThread::Signal() {
  const std::uint64_t one = 1;
  // The counter only fails to take a value when it is about to overflow: then a signal is
  // pending anyway.
  [[maybe_unused]] const ssize_t n = write(event_fd_, &one, sizeof one);
}

void TTimerThread::Execute() {
  std::unique_lock lock(mutex_);
  while (!terminated_) {
    if (suspended_) {
      parked_ = true;
      cv_.notify_all();
      cv_.wait(lock, [this] { return !suspended_ || terminated_; });
      parked_ = false;
      continue;
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(interval_ms_);
    if (cv_.wait_until(lock, until, [this] { return terminated_ || suspended_; })) continue;
    Signal();  // the wait completed: one frame step
  }
  ended_ = true;
  cv_.notify_all();
  lock.unlock();
  Signal();
}

void TTimerThread::OnReadable() {
  std::uint64_t count = 0;
  if (read(event_fd_, &count, sizeof count) != sizeof count) return;
  bool ended = false;
  bool terminated = false;
  {
    std::lock_guard lock(mutex_);
    ended = ended_;
    terminated = terminated_;
  }
  if (ended) {
    if (end_reported_) return;
    end_reported_ = true;
    notifier_->setEnabled(false);
    owner_->AnimationEnded(this);
    deleteLater();  // frees itself; the tray, its parent, frees it otherwise
    return;
  }
  // Steps that pile up while the GUI thread is busy show as one: frames are never rushed.
  if (!terminated) owner_->NextFrame();
}

}  // namespace dovrik
