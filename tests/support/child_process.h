// One child process for tests of process-level behaviour: its standard input is a gate the test
// writes to or closes, its standard output a pipe the test reads with a bound. Killed and reaped
// at the end of the test if still running, so a failing test never leaves it behind.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

extern char** environ;

namespace dovrik::testing {

class ChildProcess {
 public:
  // argv[0] is the program's path.
  explicit ChildProcess(std::vector<std::string> argv) {
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
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    gate_ = in[1];
    output_ = out[0];
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      Wait();
    }
    CloseGate();
    if (output_ >= 0) ::close(output_);
  }

  bool Started() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }

  // Reads until n bytes came, the output ended, or the bound passed.
  std::string Read(std::size_t n, std::chrono::milliseconds bound) {
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + bound;
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
  bool WriteGate(const std::string& bytes) {
    return gate_ >= 0 &&
           ::write(gate_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }
  void CloseGate() {
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
