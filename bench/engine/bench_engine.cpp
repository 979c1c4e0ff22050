// Benchmarks of the mail engine on loopback.
//   bench_engine check [RUNS]            complete checks against an in-process test server:
//                                        median and p95 from Check to OnActionDone
//   bench_engine retr PORT N engine|plain
//                                        fetch message N from a running dovrik-mailserver
//                                        (user "user", password "secret") with the engine, or
//                                        with a plain blocking socket; prints the time and the
//                                        resident memory before and at its peak
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "engine/quorrel.h"
#include "platform/message_queue.h"
#include "tools/mailserver/mail_server.h"

namespace {

using Clock = std::chrono::steady_clock;

long StatusKb(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::string(field).size());
  return -1;
}

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

bool RunAction(bool& done, const std::function<bool()>& start) {
  done = false;
  if (!start()) return false;
  while (!done) {
    dovrik::platform::WaitMessages(1000);
    dovrik::platform::PumpMessages();
  }
  return true;
}

int BenchCheck(int runs) {
  dovrik::tools::MailBehaviour b;
  b.messages = dovrik::tools::SampleMessages();
  dovrik::tools::MailServer server(b);
  dovrik::platform::SetMainThread();
  dovrik::TQuorrel engine;
  engine.SetUserName("user");
  engine.SetInServer("127.0.0.1");
  engine.SetInPort(std::to_string(server.Port()));
  engine.SetTimeOut(10);
  engine.OnGetPass = [](dovrik::TQuorrel*, std::string& aPass) { aPass = "secret"; };
  bool done = false;
  engine.OnActionDone = [&](dovrik::TQuorrel*, dovrik::tQrAction) { done = true; };
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const auto t0 = Clock::now();
    RunAction(done, [&] { return engine.Check(); });
    times.push_back(Ms(Clock::now() - t0));
    if (engine.ErrorCode(dovrik::acCheck) != 0) {
      std::fprintf(stderr, "check failed: %d\n", engine.ErrorCode(dovrik::acCheck));
      return 1;
    }
  }
  std::sort(times.begin(), times.end());
  auto at = [&](double q) { return times[static_cast<std::size_t>(q * (times.size() - 1))]; };
  std::printf(
      "check runs=%d median_ms=%.3f p75_ms=%.3f p90_ms=%.3f p95_ms=%.3f min_ms=%.3f "
      "max_ms=%.3f\n",
      runs, at(0.5), at(0.75), at(0.9), at(0.95), times.front(), times.back());
  return 0;
}

int RetrEngine(const std::string& port, int number) {
  dovrik::platform::SetMainThread();
  dovrik::TQuorrel engine;
  engine.SetUserName("user");
  engine.SetInServer("127.0.0.1");
  engine.SetInPort(port);
  engine.SetTimeOut(10);
  engine.OnGetPass = [](dovrik::TQuorrel*, std::string& aPass) { aPass = "secret"; };
  bool done = false;
  engine.OnActionDone = [&](dovrik::TQuorrel*, dovrik::tQrAction) { done = true; };
  const long before = StatusKb("VmRSS:");
  const auto t0 = Clock::now();
  RunAction(done, [&] { return engine.GetMessage(number); });
  const double ms = Ms(Clock::now() - t0);
  const auto text = engine.MessageTextShared();
  std::printf("retr engine bytes=%zu ms=%.1f rss_before_kb=%ld peak_kb=%ld code=%d\n", text->size(),
              ms, before, StatusKb("VmHWM:"), engine.ErrorCode(dovrik::acGetMessage));
  return 0;
}

// The same exchange over a plain blocking socket, reading into a growing buffer and looking for
// the end only in what arrived last.
int RetrPlain(const std::string& port, int number) {
  const long before = StatusKb("VmRSS:");
  const auto t0 = Clock::now();
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<std::uint16_t>(std::atoi(port.c_str())));
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return 1;
  std::string buf;
  auto read_until = [&](const std::string& end, std::size_t from) {
    std::size_t scan = from;
    for (;;) {
      if (buf.find(end, scan) != std::string::npos) return true;
      scan = buf.size() >= end.size() ? buf.size() - end.size() + 1 : 0;
      const std::size_t old = buf.size();
      buf.resize(old + 65536);
      const ssize_t n = recv(fd, buf.data() + old, 65536, 0);
      buf.resize(old + static_cast<std::size_t>(n > 0 ? n : 0));
      if (n <= 0) return false;
    }
  };
  auto command = [&](const std::string& c) {
    buf.clear();
    const std::string line = c + "\r\n";
    send(fd, line.data(), line.size(), MSG_NOSIGNAL);
    return read_until("\r\n", 0);
  };
  read_until("\r\n", 0);
  command("USER user");
  command("PASS secret");
  command("RETR " + std::to_string(number));
  read_until("\r\n.\r\n", 0);
  command("QUIT");
  close(fd);
  const double ms = Ms(Clock::now() - t0);
  std::printf("retr plain ms=%.1f rss_before_kb=%ld peak_kb=%ld\n", ms, before, StatusKb("VmHWM:"));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "check";
  if (mode == "check") return BenchCheck(argc > 2 ? std::atoi(argv[2]) : 200);
  if (mode == "retr" && argc == 5) {
    const std::string how = argv[4];
    return how == "plain" ? RetrPlain(argv[2], std::atoi(argv[3]))
                          : RetrEngine(argv[2], std::atoi(argv[3]));
  }
  std::fprintf(stderr, "usage: bench_engine check [RUNS] | retr PORT N engine|plain\n");
  return 2;
}
