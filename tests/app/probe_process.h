// One app_probe process with pipes on its standard input and output, killed and reaped at
// the end of the test if still running.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "tests/support/child_process.h"

namespace dovrik::testing {

class ProbeProcess : public ChildProcess {
 public:
  explicit ProbeProcess(std::vector<std::string> args) : ChildProcess(WithProbe(std::move(args))) {}

  // Reads until n bytes came, the output ended, or 30 seconds passed.
  std::string Read(std::size_t n) { return ChildProcess::Read(n, std::chrono::seconds(30)); }
  std::string ReadAll() { return Read(1 << 20); }
  // Lets the probe go on: its standard input ends.
  void Release() { CloseGate(); }

 private:
  static std::vector<std::string> WithProbe(std::vector<std::string> args) {
    args.insert(args.begin(), DOVRIK_APP_PROBE);
    return args;
  }
};

}  // namespace dovrik::testing
