// One ui_compose_probe process with pipes on its standard input and output, killed and reaped at
// the end of the test if still running.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

extern char** environ;

namespace dovrik::testing {

class ProbeProcess {
 public:
  explicit ProbeProcess(std::vector<std::string> args) {
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0) return;
    if (::pipe2(out, O_CLOEXEC) != 0) {
      ::close(in[0]);
      ::close(in[1]);
      return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    args.insert(args.begin(), DOVRIK_COMPOSE_PROBE);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, DOVRIK_COMPOSE_PROBE, &actions, nullptr, argv.data(), environ) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    gate_ = in[1];
    output_ = out[0];
  }
  ProbeProcess(const ProbeProcess&) = delete;
  ProbeProcess& operator=(const ProbeProcess&) = delete;
  ~ProbeProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      Wait();
    }
    if (gate_ >= 0) ::close(gate_);
    if (output_ >= 0) ::close(output_);
  }

  bool Started() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }

  // Reads until n bytes came, the output ended, or 30 seconds passed.
  std::string Read(std::size_t n) {
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (got.size() < n) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd p{output_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) < 0 && errno != EINTR) break;
      char buf[256];
      const ssize_t r = ::read(output_, buf, std::min(sizeof buf, n - got.size()));
      if (r == 0) break;
      if (r > 0) got.append(buf, static_cast<std::size_t>(r));
    }
    return got;
  }
  std::string ReadAll() { return Read(1 << 20); }
  void Release() {
    if (gate_ >= 0) ::close(gate_);
    gate_ = -1;
  }
  void Kill() { ::kill(pid_, SIGKILL); }
  // The wait status; the process is reaped.
  int Wait() {
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return status;
  }

 private:
  pid_t pid_ = -1;
  int gate_ = -1;
  int output_ = -1;
};

}  // namespace dovrik::testing
