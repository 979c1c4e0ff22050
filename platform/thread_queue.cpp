#include "platform/thread_queue.h"

#include <errno.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <system_error>

namespace dovrik::platform::detail {
namespace {

// Window handle -> queue, for posting from any thread. Deliberately never destroyed: detached
// helper threads may still post while the process runs its static destructors.
struct Registry {
  std::mutex mutex;
  std::unordered_map<WindowHandle, std::shared_ptr<Queue>> windows;
  std::atomic<WindowHandle> next{1};
};

Registry& Reg() {
  static Registry* r = new Registry;
  return *r;
}

// Plain pointers and flags: safe to read at any point of thread exit.
thread_local Queue* t_queue = nullptr;
thread_local bool t_exiting = false;

struct Holder {
  std::shared_ptr<Queue> queue;
  ~Holder() {
    if (queue) queue->Shutdown();
    t_queue = nullptr;
    t_exiting = true;
  }
};
thread_local Holder t_holder;

constexpr std::uint64_t kEventFdId = 0;

long long MonotonicMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace

Queue::Queue() : owner_(std::this_thread::get_id()) {
  epfd_ = epoll_create1(EPOLL_CLOEXEC);
  if (epfd_ < 0) throw std::system_error(errno, std::generic_category(), "epoll_create1");
  efd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (efd_ < 0) {
    int e = errno;
    close(epfd_);
    throw std::system_error(e, std::generic_category(), "eventfd");
  }
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.u64 = kEventFdId;
  if (epoll_ctl(epfd_, EPOLL_CTL_ADD, efd_, &ev) < 0) {
    int e = errno;
    close(efd_);
    close(epfd_);
    throw std::system_error(e, std::generic_category(), "epoll_ctl");
  }
}

Queue::~Queue() {
  sockets.clear();
  close(efd_);
  close(epfd_);
}

Queue* Queue::Current() {
  if (t_queue) return t_queue;
  if (t_exiting) return nullptr;
  t_holder.queue = std::make_shared<Queue>();
  t_queue = t_holder.queue.get();
  return t_queue;
}

std::shared_ptr<Queue> Queue::CurrentShared() {
  Queue* q = Current();
  return q ? q->shared_from_this() : nullptr;
}

std::shared_ptr<Queue> Queue::OfWindow(WindowHandle window) {
  Registry& r = Reg();
  std::lock_guard lock(r.mutex);
  auto it = r.windows.find(window);
  return it == r.windows.end() ? nullptr : it->second;
}

WindowHandle Queue::AddWindow(WindowProc proc) {
  Registry& r = Reg();
  WindowHandle h = r.next.fetch_add(1);
  {
    std::lock_guard lock(mutex_);
    if (!alive_) return 0;
    windows_[h] = std::make_shared<WindowProc>(std::move(proc));
  }
  std::lock_guard lock(r.mutex);
  r.windows[h] = shared_from_this();
  return h;
}

void Queue::RemoveWindow(WindowHandle window) {
  {
    Registry& r = Reg();
    std::lock_guard lock(r.mutex);
    r.windows.erase(window);
  }
  std::shared_ptr<WindowProc> proc;  // destroyed outside the lock: it may own anything
  std::lock_guard lock(mutex_);
  auto it = windows_.find(window);
  if (it == windows_.end()) return;
  proc = std::move(it->second);
  windows_.erase(it);
}

bool Queue::OwnsWindow(WindowHandle window) {
  std::lock_guard lock(mutex_);
  return windows_.count(window) != 0;
}

bool Queue::Post(WindowHandle window, const Message& m,
                 std::shared_ptr<const std::atomic<bool>> valid) {
  bool was_empty;
  {
    std::lock_guard lock(mutex_);
    if (!alive_ || windows_.count(window) == 0) return false;
    was_empty = inbox_.empty();
    Entry e;
    e.window = window;
    e.message = m;
    e.valid = std::move(valid);
    inbox_.push_back(std::move(e));
  }
  // A non-empty inbox has been signalled already and not yet drained (the owner reads the
  // eventfd before it takes the inbox), so one signal per batch is enough.
  if (was_empty) Signal();
  return true;
}

bool Queue::DispatchToWindow(WindowHandle window, const Message& m) {
  std::shared_ptr<WindowProc> proc;
  {
    std::lock_guard lock(mutex_);
    auto it = windows_.find(window);
    if (it == windows_.end()) return false;
    proc = it->second;  // keeps the handler alive if it deallocates its own window
  }
  if (*proc) (*proc)(m);
  return true;
}

std::uint64_t Queue::AddSource(Source* s) {
  s->id = next_source_++;
  sources_[s->id] = s;
  return s->id;
}

void Queue::RemoveSource(std::uint64_t id) {
  sources_.erase(id);
}

Source* Queue::FindSource(std::uint64_t id) {
  auto it = sources_.find(id);
  return it == sources_.end() ? nullptr : it->second;
}

int Queue::Control(int op, int fd, std::uint64_t id, std::uint32_t events) {
  epoll_event ev{};
  ev.events = events;
  ev.data.u64 = id;
  return epoll_ctl(epfd_, op, fd, &ev) < 0 ? errno : 0;
}

void Queue::PushLocal(Entry e) {
  e.seq = ++seq_;
  local_.push_back(std::move(e));
}

void Queue::Signal() {
  std::uint64_t one = 1;
  // Fails only when the counter is saturated, which still leaves the descriptor readable.
  [[maybe_unused]] ssize_t n = write(efd_, &one, sizeof one);
}

void Queue::DrainInbox() {
  std::vector<Entry> taken;
  {
    std::lock_guard lock(mutex_);
    taken.swap(inbox_);
  }
  for (auto& e : taken) PushLocal(std::move(e));
}

void Queue::Harvest(int timeout_ms) {
  epoll_event evs[64];
  int n = epoll_wait(epfd_, evs, 64, timeout_ms);
  if (n <= 0) return;  // EINTR counts as "nothing yet"; Wait recomputes its time left
  for (int i = 0; i < n; ++i) {
    std::uint64_t id = evs[i].data.u64;
    if (id == kEventFdId) {
      std::uint64_t count;
      [[maybe_unused]] ssize_t r = read(efd_, &count, sizeof count);
      DrainInbox();
    } else if (Source* s = FindSource(id)) {
      s->OnReady(*this, evs[i].events);
    }
  }
}

bool Queue::Deliver(const Entry& e) {
  if (e.valid && !e.valid->load(std::memory_order_acquire)) return false;
  if (e.source == 0) return DispatchToWindow(e.window, e.message);
  Source* s = FindSource(e.source);
  return s ? s->Dispatch(*this, e) : false;
}

int Queue::Pump() {
  Harvest(0);
  // Only what was ready when this pump began: a handler that keeps posting to itself cannot
  // hold the pump forever; the rest waits for the next pump.
  const std::uint64_t limit = seq_;
  int count = 0;
  struct Resignal {
    Queue* q;
    // Entries left on the local list: keep the epoll descriptor readable for whoever watches it.
    ~Resignal() {
      if (!q->local_.empty()) q->Signal();
    }
  } resignal{this};
  while (!local_.empty() && local_.front().seq <= limit) {
    Entry e = std::move(local_.front());
    local_.pop_front();
    if (Deliver(e)) ++count;
  }
  return count;
}

bool Queue::Wait(int timeout_ms) {
  if (!local_.empty()) return true;
  const long long deadline = timeout_ms < 0 ? -1 : MonotonicMs() + timeout_ms;
  for (;;) {
    int left = -1;
    if (deadline >= 0) {
      long long l = deadline - MonotonicMs();
      left = l < 0 ? 0 : static_cast<int>(l);
    }
    Harvest(left);
    if (!local_.empty()) return true;
    if (left == 0) return false;
  }
}

void Queue::Shutdown() {
  std::unordered_map<WindowHandle, std::shared_ptr<WindowProc>> gone;
  {
    std::lock_guard lock(mutex_);
    alive_ = false;
    gone.swap(windows_);
  }
  Registry& r = Reg();
  std::lock_guard lock(r.mutex);
  for (auto& [h, proc] : gone) r.windows.erase(h);
}

}  // namespace dovrik::platform::detail
