// Per-thread message queues: the Linux stand-in for hidden windows and their message loop.
//
// Every thread that registers a handler ("window") gets a queue: one epoll instance with an
// eventfd for posted messages, the thread's timers (timerfd) and the sockets registered with
// AsyncSelect. A handler runs only on the thread that registered it, and only while that thread
// pumps (PumpMessages) or while Qt drains the queue's descriptor on the GUI thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

namespace dovrik::platform {

// Message numbers below this are reserved for the platform layer itself.
inline constexpr std::uint32_t kUserMessage = 1024;

struct Message {
  std::uint32_t msg = 0;
  std::uintptr_t wparam = 0;
  std::intptr_t lparam = 0;
};

// Opaque, never reused within a process; 0 is "no window".
using WindowHandle = std::uint64_t;

using WindowProc = std::function<void(const Message&)>;

// Registers proc on the calling thread's queue (creating the queue on first use).
WindowHandle AllocateHWnd(WindowProc proc);
// Unregisters; only on the owning thread. Messages still queued for it are dropped, and a handler
// that is running at the moment finishes normally.
void DeallocateHWnd(WindowHandle window);

// Safe from any thread. False when the window no longer exists.
bool PostMessage(WindowHandle window, std::uint32_t msg, std::uintptr_t wparam,
                 std::intptr_t lparam);

// Like PostMessage, but the message is dropped at dispatch time if *valid reads false by then:
// lets the poster withdraw a message that may already sit in the queue (cancelled look-ups).
bool PostMessageWhile(WindowHandle window, std::uint32_t msg, std::uintptr_t wparam,
                      std::intptr_t lparam, std::shared_ptr<const std::atomic<bool>> valid);

// Dispatches everything ready on the calling thread's queue without blocking: socket readiness,
// posted messages and expired timers, in arrival order per source. Re-entrant: a handler may call
// it again (the nested pump continues with the same waiting messages, and a window deallocated
// meanwhile gets nothing more). It dispatches what was ready when it began; what arrives while it
// runs is left for the next pump. Returns the number of messages dispatched.
int PumpMessages();

// Blocks at most timeout_ms until something is ready on the calling thread's queue (returns at
// once if something already is; a negative timeout waits without limit). Dispatches nothing.
// True when something is ready.
bool WaitMessages(int timeout_ms);

// The queue's pollable descriptor (the epoll fd): readable whenever PumpMessages has work. The GUI
// thread watches it with a QSocketNotifier. Creates the calling thread's queue if needed.
int QueueDescriptor();

// The main thread: the one that Synchronize runs calls on. Call once, early, from that thread.
void SetMainThread();
bool IsMainThread();

}  // namespace dovrik::platform
