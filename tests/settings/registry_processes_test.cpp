// The store under a killed writer and under two writers at once, with real processes.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "settings/registry.h"
#include "settings/registry_text.h"
#include "tests/settings/isolated_store.h"
#include "tests/settings/store_writer_payload.h"

extern char** environ;

namespace dovrik {
namespace {

using StoreProcesses = testing::IsolatedStore;
constexpr auto kBound = std::chrono::seconds(60);  // a hung writer fails the test, never hangs it

// One settings_store_writer process, talking through pipes on its stdin and stdout.
class Writer {
 public:
  Writer(const std::string& prefix, int count, int payload) {
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    const std::string count_text = std::to_string(count), payload_text = std::to_string(payload);
    const char* argv[] = {DOVRIK_STORE_WRITER, prefix.c_str(), count_text.c_str(),
                          payload_text.c_str(), nullptr};
    if (posix_spawn(&pid_, DOVRIK_STORE_WRITER, &actions, nullptr, const_cast<char**>(argv),
                    environ) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    gate_ = in[1];
    progress_ = out[0];
  }
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;
  ~Writer() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      Wait();
    }
    if (gate_ >= 0) ::close(gate_);
    if (progress_ >= 0) ::close(progress_);
  }

  bool Started() const { return pid_ > 0; }
  // Waits until the writer has printed n more progress characters; false on end or time-out.
  bool Expect(char c, int n) {
    const auto deadline = std::chrono::steady_clock::now() + kBound;
    while (n > 0) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd p{progress_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) < 0 && errno != EINTR) return false;
      char buf[64];
      const ssize_t got = ::read(progress_, buf, std::min<ssize_t>(n, sizeof buf));
      if (got == 0) return false;
      for (ssize_t i = 0; i < got; ++i) {
        if (buf[i] != c) return false;
      }
      if (got > 0) n -= static_cast<int>(got);
    }
    return true;
  }
  bool Release() { return ::write(gate_, "g", 1) == 1; }
  void Kill() { ::kill(pid_, SIGKILL); }
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
  int progress_ = -1;
};

void ExpectValues(const std::string& prefix, int count, int payload) {
  for (int i = 0; i < count; ++i) {
    const std::string name = prefix + std::to_string(i);
    ASSERT_EQ(ReadRegString("Load", name, "missing"), testing::WriterPayload(name, payload))
        << name;
  }
}

TEST_F(StoreProcesses, AWriterKilledMidWriteNeverLeavesABrokenStore) {
  constexpr int kPayload = 3000;
  int round = 0;
  for (int done : {1, 4, 9, 17, 30}) {
    const std::string prefix = "r" + std::to_string(round++) + "-";
    Writer writer(prefix, 0, kPayload);
    ASSERT_TRUE(writer.Started());
    ASSERT_TRUE(writer.Expect('R', 1));
    ASSERT_TRUE(writer.Release());
    ASSERT_TRUE(writer.Expect('+', done));
    writer.Kill();  // the writer goes straight on with its next write: killed in the middle of it
    const int status = writer.Wait();
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;

    ASSERT_TRUE(ParseRegText(StoreText()).has_value()) << "round " << round;
    ExpectValues(prefix, done, kPayload);  // every write reported done is there
  }
  for (const auto& entry : std::filesystem::directory_iterator(StoreFile().parent_path())) {
    EXPECT_EQ(entry.path().string().find(".corrupt"), std::string::npos) << entry.path();
  }
  // Neither the lock nor a half-written temporary file stands in the way of the next writer.
  WriteRegString("Load", "after", "yes");
  EXPECT_EQ(ReadRegString("Load", "after", ""), "yes");
}

TEST_F(StoreProcesses, TwoWritersAtOnceLoseNothing) {
  constexpr int kCount = 60, kPayload = 400;
  Writer a("a", kCount, kPayload), b("b", kCount, kPayload);
  ASSERT_TRUE(a.Started() && b.Started());
  ASSERT_TRUE(a.Expect('R', 1) && b.Expect('R', 1));
  ASSERT_TRUE(a.Release() && b.Release());
  ASSERT_TRUE(a.Expect('+', kCount));
  ASSERT_TRUE(b.Expect('+', kCount));
  EXPECT_EQ(a.Wait(), 0);
  EXPECT_EQ(b.Wait(), 0);
  ExpectValues("a", kCount, kPayload);
  ExpectValues("b", kCount, kPayload);
}

}  // namespace
}  // namespace dovrik
