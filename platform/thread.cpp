#include "platform/thread.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/message_queue.h"

namespace dovrik::platform {
namespace {

constexpr std::uint32_t kSynchronizeMessage = 1;

struct SyncRequest {
  std::function<void()> call;
  bool done = false;
  bool abandoned = false;
  std::exception_ptr error;
};

// Calls waiting for the main thread. Never destroyed: workers may still be waiting in it while
// the process runs its static destructors.
struct SyncState {
  std::mutex mutex;
  std::condition_variable cv;  // a request ended, a request arrived, or a run ended
  std::deque<std::shared_ptr<SyncRequest>> pending;
  bool stopped = false;
  WindowHandle window = 0;  // on the main thread's queue
};

SyncState& Sync() {
  static SyncState* s = new SyncState;
  return *s;
}

}  // namespace

namespace detail {
void OnMainThreadSet() {
  SyncState& s = Sync();
  WindowHandle w = AllocateHWnd([](const Message& m) {
    if (m.msg == kSynchronizeMessage) RunPendingSynchronize();
  });
  WindowHandle old;
  {
    std::lock_guard lock(s.mutex);
    old = s.window;
    s.window = w;
    s.stopped = false;
  }
  if (old != 0) DeallocateHWnd(old);
}
}  // namespace detail

void RunPendingSynchronize() {
  SyncState& s = Sync();
  for (;;) {
    std::shared_ptr<SyncRequest> r;
    {
      std::lock_guard lock(s.mutex);
      if (s.pending.empty()) return;
      r = std::move(s.pending.front());
      s.pending.pop_front();
    }
    std::exception_ptr error;
    try {
      r->call();
    } catch (...) {
      error = std::current_exception();  // handed to the waiting worker, which rethrows it
    }
    {
      std::lock_guard lock(s.mutex);
      r->error = std::move(error);  // the worker alone releases it
      r->done = true;
    }
    s.cv.notify_all();
  }
}

void StopSynchronize() {
  SyncState& s = Sync();
  {
    std::lock_guard lock(s.mutex);
    s.stopped = true;
    for (auto& r : s.pending) r->abandoned = true;
    s.pending.clear();
  }
  s.cv.notify_all();
}

bool RunOnMainThread(const std::function<void()>& call) {
  if (IsMainThread()) {
    call();
    return true;
  }
  SyncState& s = Sync();
  auto r = std::make_shared<SyncRequest>();
  r->call = call;
  WindowHandle window;
  {
    std::lock_guard lock(s.mutex);
    if (s.stopped || s.window == 0) return false;
    s.pending.push_back(r);
    window = s.window;
  }
  s.cv.notify_all();  // a main thread inside WaitFor serves it
  if (!PostMessage(window, kSynchronizeMessage, 0, 0)) {
    // The main thread's queue is gone; nobody will run it.
    std::lock_guard lock(s.mutex);
    if (!r->done) {
      std::erase(s.pending, r);
      return false;
    }
  }
  std::exception_ptr error;
  {
    std::unique_lock lock(s.mutex);
    s.cv.wait(lock, [&] { return r->done || r->abandoned; });
    if (!r->done) return false;
    error = std::move(r->error);
  }
  if (error) std::rethrow_exception(error);
  return true;
}

struct Thread::Impl {
  std::thread thread;
  std::mutex mutex;
  std::condition_variable cv;
  bool started = false;
  std::atomic<bool> finished{false};
  std::exception_ptr fatal;
};

Thread::Thread(bool /*create_suspended*/) : impl_(std::make_unique<Impl>()) {}

Thread::~Thread() {
  if (!impl_->thread.joinable()) return;
  if (impl_->thread.get_id() == std::this_thread::get_id()) {
    impl_->thread.detach();  // FreeOnTerminate: the run is deleting its own object
    return;
  }
  Terminate();
  WaitFor();
  impl_->thread.join();
}

void Thread::Resume() {
  std::lock_guard lock(impl_->mutex);
  if (impl_->started) return;
  impl_->started = true;
  impl_->thread = std::thread([this] { Run(); });
}

void Thread::Run() {
  std::exception_ptr fatal;
  try {
    Execute();
  } catch (...) {
    fatal = std::current_exception();  // kept as a value: FatalException()
  }
  const bool free_self = free_on_terminate_;
  {
    std::lock_guard lock(impl_->mutex);
    impl_->fatal = std::move(fatal);
    impl_->finished.store(true);
  }
  impl_->cv.notify_all();
  {
    // A main thread waiting in WaitFor sleeps on the synchronize state.
    SyncState& s = Sync();
    std::lock_guard lock(s.mutex);
  }
  Sync().cv.notify_all();
  if (free_self) delete this;
}

void Thread::WaitFor() {
  {
    std::lock_guard lock(impl_->mutex);
    if (!impl_->started) return;
    if (impl_->thread.get_id() == std::this_thread::get_id()) return;  // would wait for itself
  }
  if (IsMainThread()) {
    SyncState& s = Sync();
    for (;;) {
      RunPendingSynchronize();
      std::unique_lock lock(s.mutex);
      s.cv.wait(lock, [&] { return impl_->finished.load() || !s.pending.empty(); });
      if (impl_->finished.load()) return;
    }
  }
  std::unique_lock lock(impl_->mutex);
  impl_->cv.wait(lock, [&] { return impl_->finished.load(); });
}

bool Thread::Finished() const {
  return impl_->finished.load();
}

std::exception_ptr Thread::FatalException() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->fatal;
}

bool Thread::Synchronize(const std::function<void()>& call) {
  return RunOnMainThread(call);
}

}  // namespace dovrik::platform
