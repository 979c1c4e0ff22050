// The per-thread queue behind message_queue.h, async_select.h and timer.h (internal to the
// platform library). One epoll instance watches an eventfd (messages posted from any thread) and
// the thread's sources (timers, registered sockets). Ready sources are turned into entries on a
// local list owned by the thread ("harvest"); PumpMessages then dispatches the entries one at a
// time, so a handler that pumps again simply continues with the same list.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/message_queue.h"

namespace dovrik::platform::detail {

class Queue;

// One message waiting to be dispatched.
struct Entry {
  std::uint64_t seq = 0;
  std::uint64_t source = 0;  // 0: a posted message; else the id of the Source that made it
  std::uint64_t tag = 0;     // meaning chosen by the source
  WindowHandle window = 0;
  Message message;
  std::shared_ptr<const std::atomic<bool>> valid;  // dropped at dispatch when it reads false
};

// Something the queue watches with epoll. Ids are never reused, so an entry whose source has
// gone away since it was queued is dropped.
class Source {
 public:
  virtual ~Source() = default;
  // Owner thread, during a harvest: turn readiness into entries (Queue::PushLocal). Must not run
  // user code.
  virtual void OnReady(Queue& q, std::uint32_t events) = 0;
  // Owner thread: deliver one of its entries. Returns whether something was dispatched.
  virtual bool Dispatch(Queue& q, const Entry& e) = 0;
  std::uint64_t id = 0;
};

class Queue : public std::enable_shared_from_this<Queue> {
 public:
  Queue();
  ~Queue();
  Queue(const Queue&) = delete;
  Queue& operator=(const Queue&) = delete;

  // The calling thread's queue, created on first use; nullptr once the thread is exiting.
  static Queue* Current();
  static std::shared_ptr<Queue> CurrentShared();
  // The queue a window belongs to, or nullptr.
  static std::shared_ptr<Queue> OfWindow(WindowHandle window);

  int EpollFd() const { return epfd_; }
  bool OnOwnerThread() const { return std::this_thread::get_id() == owner_; }

  // Windows.
  WindowHandle AddWindow(WindowProc proc);
  void RemoveWindow(WindowHandle window);
  bool OwnsWindow(WindowHandle window);
  // Any thread.
  bool Post(WindowHandle window, const Message& m, std::shared_ptr<const std::atomic<bool>> valid);
  // Owner thread: runs the window's handler now. False when the window is gone.
  bool DispatchToWindow(WindowHandle window, const Message& m);

  // Sources (owner thread).
  std::uint64_t AddSource(Source* s);
  void RemoveSource(std::uint64_t id);
  Source* FindSource(std::uint64_t id);
  // epoll_ctl with data = the source's id. op is EPOLL_CTL_ADD/MOD/DEL. Returns 0 or errno.
  int Control(int op, int fd, std::uint64_t id, std::uint32_t events);
  void PushLocal(Entry e);

  int Pump();
  bool Wait(int timeout_ms);

  // Sockets registered with AsyncSelect on this thread, by descriptor (owned here).
  std::unordered_map<int, std::unique_ptr<Source>> sockets;

  // Thread exit: windows disappear (posting to them fails from now on).
  void Shutdown();

 private:
  void Harvest(int timeout_ms);
  void DrainInbox();
  void Signal();
  bool Deliver(const Entry& e);

  int epfd_ = -1;
  int efd_ = -1;
  std::thread::id owner_;

  std::mutex mutex_;  // guards windows_, inbox_, alive_
  std::unordered_map<WindowHandle, std::shared_ptr<WindowProc>> windows_;
  std::vector<Entry> inbox_;
  bool alive_ = true;

  // Owner thread only.
  std::deque<Entry> local_;
  std::uint64_t seq_ = 0;
  std::uint64_t next_source_ = 1;
  std::unordered_map<std::uint64_t, Source*> sources_;
};

}  // namespace dovrik::platform::detail
