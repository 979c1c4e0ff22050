// Bulk transfer over loopback: a TWSocket pair driven by its events on two threads against a
// plain blocking POSIX socket pair, in the same run. Prints MB/s, the ratio and CPU time.
//   bench_socket [MiB, default 64]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/message_queue.h"
#include "socket/wsocket.h"

namespace {

using Clock = std::chrono::steady_clock;

double CpuSeconds() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

struct Result {
  double seconds = 0, cpu = 0;
  bool ok = false;
};

std::vector<char> Payload(std::size_t n) {
  std::vector<char> data(n);
  for (std::size_t i = 0; i < n; ++i) data[i] = static_cast<char>(i * 7 + (i >> 12));
  return data;
}

// Two blocking sockets, 64 KiB per call, one writer and one reader thread.
Result PlainPair(std::size_t total) {
  int lst = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(lst, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::listen(lst, 1);
  socklen_t len = sizeof a;
  ::getsockname(lst, reinterpret_cast<sockaddr*>(&a), &len);
  int out = ::socket(AF_INET, SOCK_STREAM, 0);
  ::connect(out, reinterpret_cast<sockaddr*>(&a), sizeof a);
  int in = ::accept(lst, nullptr, nullptr);
  ::close(lst);

  const std::vector<char> chunk = Payload(65536);
  Result r;
  const double cpu0 = CpuSeconds();
  const auto t0 = Clock::now();
  std::thread writer([&] {
    std::size_t sent = 0;
    while (sent < total) {
      std::size_t n = std::min(chunk.size(), total - sent);
      ssize_t k = ::send(out, chunk.data(), n, MSG_NOSIGNAL);
      if (k <= 0) break;
      sent += static_cast<std::size_t>(k);
    }
  });
  std::vector<char> buf(65536);
  std::size_t got = 0;
  while (got < total) {
    ssize_t k = ::recv(in, buf.data(), buf.size(), 0);
    if (k <= 0) break;
    got += static_cast<std::size_t>(k);
  }
  writer.join();
  r.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  r.cpu = CpuSeconds() - cpu0;
  r.ok = got == total;
  ::close(out);
  ::close(in);
  return r;
}

// The receiving thread listens with one TWSocket, adopts the connection into a second one and
// reads in OnDataAvailable; the sending thread connects a third and refills its send chain in
// OnDataSent. Both threads block in WaitMessages between pumps.
Result WSocketPair(std::size_t total) {
  using namespace dovrik;
  std::promise<std::string> port_promise;
  std::future<std::string> port_future = port_promise.get_future();
  std::atomic<bool> received_all{false};
  std::atomic<bool> failed{false};
  std::atomic<std::size_t> received{0};
  Clock::time_point t_end;

  std::thread receiver([&] {
    TWSocket listener;
    TWSocket session;
    listener.SetMultiThreaded(true);
    session.SetMultiThreaded(true);
    listener.SetAddr("127.0.0.1");
    listener.SetPort("0");
    listener.OnSessionAvailable = [&](TObject*, Word) { session.Dup(listener.Accept()); };
    std::vector<char> buf(1 << 18);
    std::size_t got = 0;
    session.OnDataAvailable = [&](TObject*, Word error) {
      int n = session.Receive(buf.data(), static_cast<int>(buf.size()));
      if (n > 0) got += static_cast<std::size_t>(n);
      if (error != 0 || n == 0) failed = true;
      if (got >= total && !received_all) {
        t_end = Clock::now();
        received = got;
        received_all = true;
      }
    };
    session.OnSessionClosed = [&](TObject*, Word) {
      if (!received_all) failed = true;
    };
    listener.Listen();
    port_promise.set_value(listener.GetLocalPort());
    while (!received_all && !failed) {
      platform::WaitMessages(100);
      platform::PumpMessages();
    }
    received = got;
  });

  const std::string port = port_future.get();
  const std::vector<char> chunk = Payload(1 << 20);
  const double cpu0 = CpuSeconds();
  const auto t0 = Clock::now();
  std::thread sender([&] {
    TWSocket s;
    s.SetMultiThreaded(true);
    s.SetAddr("127.0.0.1");
    s.SetPort(port);
    std::size_t queued = 0;
    auto refill = [&] {
      if (queued >= total) return;
      const std::size_t n = std::min(chunk.size(), total - queued);
      queued += n;
      s.Send(chunk.data(), static_cast<int>(n));
    };
    s.OnSessionConnected = [&](TObject*, Word error) {
      if (error != 0) failed = true;
    };
    s.OnDataSent = [&](TObject*, Word) { refill(); };  // also the first write notification
    s.OnSessionClosed = [&](TObject*, Word) {
      if (!received_all) failed = true;
    };
    s.Connect();
    // Closing resets the connection at once (linger 0), so wait until everything arrived.
    while (!received_all && !failed) {
      platform::WaitMessages(100);
      platform::PumpMessages();
    }
    if (s.State() == wsConnected) s.Close();
  });
  sender.join();
  receiver.join();
  Result r;
  r.seconds = std::chrono::duration<double>(t_end - t0).count();
  r.cpu = CpuSeconds() - cpu0;
  r.ok = received_all && received == total;
  return r;
}

Result Median(std::vector<Result> runs) {
  std::sort(runs.begin(), runs.end(),
            [](const Result& a, const Result& b) { return a.seconds < b.seconds; });
  Result m = runs[runs.size() / 2];
  for (const Result& r : runs) m.ok = m.ok && r.ok;
  return m;
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 64;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
  const std::size_t total = mib << 20;
  std::vector<Result> plain_runs, ws_runs;
  for (int i = 0; i < rounds; ++i) {  // interleaved, so both see the same machine load
    plain_runs.push_back(PlainPair(total));
    ws_runs.push_back(WSocketPair(total));
  }
  const Result plain = Median(plain_runs);
  const Result ws = Median(ws_runs);
  const double mb = static_cast<double>(total) / 1e6;
  std::printf("bulk transfer of %zu MiB over loopback, median of %d rounds\n", mib, rounds);
  std::printf("plain blocking pair : %8.1f MB/s  wall %.3f s  cpu %.3f s%s\n", mb / plain.seconds,
              plain.seconds, plain.cpu, plain.ok ? "" : "  (INCOMPLETE)");
  std::printf("TWSocket pair       : %8.1f MB/s  wall %.3f s  cpu %.3f s%s\n", mb / ws.seconds,
              ws.seconds, ws.cpu, ws.ok ? "" : "  (INCOMPLETE)");
  std::printf("ratio TWSocket/plain: %.2f\n", plain.seconds / ws.seconds);
  return plain.ok && ws.ok ? 0 : 1;
}
