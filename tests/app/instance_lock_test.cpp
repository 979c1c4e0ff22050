// One copy per user and display, with real processes: a second copy is refused while the first
// holds the lock, and a copy killed outright never blocks the next start.
#include "app/instance_lock.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <map>
#include <optional>
#include <sstream>

#include "tests/app/probe_process.h"

namespace dovrik {
namespace {

using testing::ProbeProcess;

// Sets environment variables for the life of the test and puts the old values back.
class Environment {
 public:
  void Set(const char* name, const char* value) {
    if (!saved_.count(name)) {
      const char* old = std::getenv(name);
      saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    value ? ::setenv(name, value, 1) : ::unsetenv(name);
  }
  ~Environment() {
    for (const auto& [name, value] : saved_) {
      value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
    }
  }

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

class InstanceLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "dovrik-run-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    runtime_ = pattern;
    env_.Set("XDG_RUNTIME_DIR", runtime_.c_str());
    env_.Set("WAYLAND_DISPLAY", nullptr);
    env_.Set("DISPLAY", ":77");
  }
  void TearDown() override { std::filesystem::remove_all(runtime_); }

  Environment env_;
  std::filesystem::path runtime_;
};

TEST_F(InstanceLockTest, DisplayNamesForTheLockFile) {
  const struct {
    const char* wayland;
    const char* x11;
    const char* name;
  } cases[] = {
      {nullptr, ":0", "_0"},
      {nullptr, ":0.0", "_0"},  // the same display as ":0"
      {nullptr, "localhost:10.0", "localhost_10"},
      {nullptr, "host.example:1", "host.example_1"},
      {"wayland-0", ":1", "wayland-0"},
      {"/run/user/1000/wl 1", nullptr, "_run_user_1000_wl_1"},
      {"", "", "no-display"},
      {nullptr, nullptr, "no-display"},
  };
  for (const auto& c : cases) {
    env_.Set("WAYLAND_DISPLAY", c.wayland);
    env_.Set("DISPLAY", c.x11);
    EXPECT_EQ(InstanceLock::displayName(), c.name)
        << (c.wayland ? c.wayland : "-") << " " << (c.x11 ? c.x11 : "-");
  }
}

TEST_F(InstanceLockTest, SecondCopyRefusedUntilTheFirstIsKilled) {
  ProbeProcess first({"lock"});
  ASSERT_TRUE(first.Started());
  ASSERT_EQ(first.Read(1), "H");

  std::ostringstream marker;
  marker << std::ifstream(runtime_ / "dovrik-_77.lock").rdbuf();
  EXPECT_EQ(marker.str(), "0x33786540 " + std::to_string(first.Pid()) + "\n");

  {
    ProbeProcess second({"lock"});
    ASSERT_EQ(second.Read(1), "T");
    InstanceLock here = InstanceLock::acquire();
    EXPECT_EQ(here.state(), InstanceLock::State::kTakenByAnother);
  }
  {
    env_.Set("DISPLAY", ":78");  // another display is another desktop
    ProbeProcess elsewhere({"lock"});
    EXPECT_EQ(elsewhere.Read(1), "H");
    env_.Set("DISPLAY", ":77");
  }

  first.Kill();  // no chance to clean up: the kernel alone releases the lock
  const int status = first.Wait();
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  InstanceLock next = InstanceLock::acquire();
  EXPECT_EQ(next.state(), InstanceLock::State::kHeld) << next.error();
  ProbeProcess after({"lock"});
  EXPECT_EQ(after.Read(1), "T");
}

TEST_F(InstanceLockTest, ReleasedWhenTheHolderGoes) {
  {
    InstanceLock held = InstanceLock::acquire();
    ASSERT_EQ(held.state(), InstanceLock::State::kHeld) << held.error();
    InstanceLock moved = std::move(held);  // the lock travels with the object
    ProbeProcess other({"lock"});
    EXPECT_EQ(other.Read(1), "T");
  }
  ProbeProcess other({"lock"});
  EXPECT_EQ(other.Read(1), "H");
}

TEST_F(InstanceLockTest, WithoutAUsableRuntimeFolderAPrivateOneInTmp) {
  const std::filesystem::path fallback = "/tmp/dovrik-" + std::to_string(::getuid());
  for (const char* runtime :
       {static_cast<const char*>(nullptr), "", "relative/run", "/nonexistent/dovrik-run"}) {
    env_.Set("XDG_RUNTIME_DIR", runtime);
    env_.Set("DISPLAY", ":dovrik-test-fallback");
    InstanceLock lock = InstanceLock::acquire();
    ASSERT_EQ(lock.state(), InstanceLock::State::kHeld) << lock.error();
    EXPECT_EQ(lock.path().parent_path(), fallback);
    struct stat st {};
    ASSERT_EQ(::lstat(fallback.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    std::filesystem::remove(lock.path());
  }
}

}  // namespace
}  // namespace dovrik
