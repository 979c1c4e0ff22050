#include "platform/message_queue.h"

#include <atomic>
#include <thread>

#include "platform/thread_queue.h"

namespace dovrik::platform {

using detail::Queue;

WindowHandle AllocateHWnd(WindowProc proc) {
  Queue* q = Queue::Current();
  return q ? q->AddWindow(std::move(proc)) : 0;
}

void DeallocateHWnd(WindowHandle window) {
  if (window == 0) return;
  // Found through the registry, so this also works while the owning thread's locals are being
  // torn down.
  if (auto q = Queue::OfWindow(window)) q->RemoveWindow(window);
}

bool PostMessage(WindowHandle window, std::uint32_t msg, std::uintptr_t wparam,
                 std::intptr_t lparam) {
  return PostMessageWhile(window, msg, wparam, lparam, nullptr);
}

bool PostMessageWhile(WindowHandle window, std::uint32_t msg, std::uintptr_t wparam,
                      std::intptr_t lparam, std::shared_ptr<const std::atomic<bool>> valid) {
  auto q = Queue::OfWindow(window);
  if (!q) return false;
  return q->Post(window, Message{msg, wparam, lparam}, std::move(valid));
}

int PumpMessages() {
  Queue* q = Queue::Current();
  return q ? q->Pump() : 0;
}

bool WaitMessages(int timeout_ms) {
  Queue* q = Queue::Current();
  return q ? q->Wait(timeout_ms) : false;
}

int QueueDescriptor() {
  Queue* q = Queue::Current();
  return q ? q->EpollFd() : -1;
}

namespace {
std::atomic<std::thread::id> g_main_thread{};
}  // namespace

namespace detail {
void OnMainThreadSet();  // thread.cpp: prepares Synchronize for the new main thread
}

void SetMainThread() {
  g_main_thread.store(std::this_thread::get_id());
  Queue::Current();
  detail::OnMainThreadSet();
}

bool IsMainThread() {
  return g_main_thread.load() == std::this_thread::get_id();
}

}  // namespace dovrik::platform
