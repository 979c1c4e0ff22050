// The store under a killed writer and under two writers at once, with real processes.
#include <sys/wait.h>

#include <chrono>
#include <filesystem>

#include "settings/registry.h"
#include "settings/registry_text.h"
#include "tests/settings/isolated_store.h"
#include "tests/settings/store_writer_payload.h"
#include "tests/support/child_process.h"

namespace dovrik {
namespace {

using StoreProcesses = testing::IsolatedStore;
constexpr auto kBound = std::chrono::seconds(60);  // a hung writer fails the test, never hangs it

// One settings_store_writer process: its standard input is the gate, its standard output the
// progress characters.
class Writer : public testing::ChildProcess {
 public:
  Writer(const std::string& prefix, int count, int payload)
      : ChildProcess(
            {DOVRIK_STORE_WRITER, prefix, std::to_string(count), std::to_string(payload)}) {}

  // Waits until the writer has printed n more progress characters; false on end or time-out.
  bool Expect(char c, int n) {
    const std::string got = Read(static_cast<std::size_t>(n), kBound);
    return got == std::string(static_cast<std::size_t>(n), c);
  }
  bool Release() { return WriteGate("g"); }
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
