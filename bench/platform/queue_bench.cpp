// Queue figures: (a) CPU time of a thread idling in WaitMessages loops with a socket registered
// (connected, nothing armed that could fire) and a timer of 100 ms, the way a session waits;
// (b) latency from PostMessage on one thread to dispatch on another through
// WaitMessages + PumpMessages.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "platform/async_select.h"
#include "platform/message_queue.h"
#include "platform/timer.h"

using namespace dovrik::platform;

namespace {

double ThreadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

std::uint64_t NowNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1000000000ull +
         static_cast<std::uint64_t>(ts.tv_nsec);
}

void IdleCpu(double seconds) {
  // A connected loopback pair whose peer has closed: the notifications are delivered once, after
  // which nothing may keep the thread busy.
  int lst = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ::bind(lst, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::listen(lst, 1);
  ::getsockname(lst, reinterpret_cast<sockaddr*>(&a), &len);

  double cpu = 0;
  int wakeups = 0;
  int dispatched = 0;
  std::thread idle([&] {
    int notes = 0;
    WindowHandle w = AllocateHWnd([&](const Message&) { ++notes; });
    SocketHandle s = Socket(AF_INET, SOCK_STREAM, 0);
    AsyncSelect(s, w, kUserMessage + 1, kFdRead | kFdWrite | kFdConnect | kFdClose);
    Connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    int peer = ::accept(lst, nullptr, nullptr);
    ::close(peer);
    int ticks = 0;
    Timer t;
    t.OnTimer = [&] { ++ticks; };
    t.SetInterval(100);
    t.SetEnabled(true);
    const double c0 = ThreadCpuSeconds();
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
      if (WaitMessages(100)) ++wakeups;
      dispatched += PumpMessages();
    }
    cpu = ThreadCpuSeconds() - c0;
    CloseSocket(s);
    DeallocateHWnd(w);
    std::printf("idle: %d socket notifications, %d timer ticks\n", notes, ticks);
  });
  idle.join();
  ::close(lst);
  std::printf(
      "idle: %.1f s in WaitMessages(100) loops: CPU %.3f ms (%.4f%%), %d wake-ups, %d "
      "dispatched\n",
      seconds, cpu * 1e3, cpu / seconds * 100.0, wakeups, dispatched);
}

void Latency(int posts) {
  std::vector<std::uint64_t> lat;
  lat.reserve(static_cast<size_t>(posts));
  std::atomic<WindowHandle> window{0};
  std::atomic<int> seen{0};
  std::thread consumer([&] {
    WindowHandle w = AllocateHWnd([&](const Message& m) {
      lat.push_back(NowNs() - static_cast<std::uint64_t>(m.lparam));
      seen.fetch_add(1, std::memory_order_release);
      seen.notify_one();
    });
    window.store(w);
    while (seen.load(std::memory_order_acquire) < posts) {
      if (WaitMessages(1000)) PumpMessages();
    }
    DeallocateHWnd(w);
  });
  while (window.load() == 0) std::this_thread::yield();
  for (int i = 0; i < posts; ++i) {
    PostMessage(window.load(), kUserMessage, 0, static_cast<std::intptr_t>(NowNs()));
    // One at a time: measure a wake-up per message, not a batch drain.
    // Block (futex) rather than spin, so the producer does not compete for the two cores.
    int now = seen.load(std::memory_order_acquire);
    while (now <= i) {
      seen.wait(now, std::memory_order_acquire);
      now = seen.load(std::memory_order_acquire);
    }
  }
  consumer.join();
  std::sort(lat.begin(), lat.end());
  auto at = [&](double q) { return lat[static_cast<size_t>(q * (lat.size() - 1))] / 1000.0; };
  std::printf("latency: %d posts, post -> dispatch: median %.1f us, p99 %.1f us, max %.1f us\n",
              posts, at(0.5), at(0.99), lat.back() / 1000.0);
}

}  // namespace

int main() {
  IdleCpu(3.0);
  Latency(20000);
  return 0;
}
