// Reading and writing one value of the settings store, with stores of 10 and 1,000 keys.
// Prints median and 90th-percentile microseconds. The store lives in a temporary folder
// ($TMPDIR or /tmp); writes include the flush to disk, so they show that disk's fsync cost.
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "settings/registry.h"
#include "settings/registry_store.h"

namespace {

struct Figures {
  double median, p90;
};

Figures Measure(int runs, const std::function<void(int)>& op) {
  std::vector<double> us;
  us.reserve(static_cast<size_t>(runs));
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    op(i);
    us.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                     .count());
  }
  std::sort(us.begin(), us.end());
  return {us[us.size() / 2], us[us.size() * 9 / 10]};
}

}  // namespace

int main() {
  namespace fs = std::filesystem;
  std::string pattern = (fs::temp_directory_path() / "dovrik-bench-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) return 1;
  ::setenv("XDG_CONFIG_HOME", pattern.c_str(), 1);
  const std::string file = dovrik::RegistryStore::ForCurrentUser().FilePath();

  std::printf("%-10s %10s %14s %14s %14s %14s\n", "keys", "file bytes", "read median", "read p90",
              "write median", "write p90");
  for (int keys : {10, 1000}) {
    fs::remove(file);
    // Keys like the program's own: a text and a few numbers each.
    dovrik::RegistryStore::ForCurrentUser().Update([&](dovrik::RegDocument& doc) {
      for (int k = 0; k < keys; ++k) {
        const std::string path = dovrik::RegistryKeyPath("KEY" + std::to_string(k));
        dovrik::RegKey& key = dovrik::FindOrAddRegKey(doc, path);
        dovrik::SetRegValue(key, {"Settings", dovrik::RegType::kString,
                                  "127.0.0.1\r\npop3\r\nUser\r\nNoMorePass\r\n120", 0});
        dovrik::SetRegValue(key, {"Size", dovrik::RegType::kDword, {}, 8});
        dovrik::SetRegValue(key, {"Color", dovrik::RegType::kDword, {}, 0x80000008});
      }
    });
    const std::string middle = "KEY" + std::to_string(keys / 2);
    volatile std::int32_t sink = 0;
    const Figures read =
        Measure(2000, [&](int) { sink = dovrik::ReadRegInteger(middle, "Size", 0); });
    const Figures write = Measure(300, [&](int i) { dovrik::WriteRegInteger(middle, "Size", i); });
    std::printf("%-10d %10ju %11.1f us %11.1f us %11.1f us %11.1f us\n", keys,
                static_cast<std::uintmax_t>(fs::file_size(file)), read.median, read.p90,
                write.median, write.p90);
  }
  std::error_code ignored;
  fs::remove_all(pattern, ignored);
  return 0;
}
