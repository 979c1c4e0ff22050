// dovrik-store: it writes the bytes the program writes, refuses what the program would never
// store, and tells a script by its exit code what it found.
#include "tools/store/store_tool.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <sstream>

#include "settings/registry.h"
#include "tests/settings/isolated_store.h"
#include "tests/support/child_process.h"

namespace dovrik::store_tool {
namespace {

namespace fs = std::filesystem;

struct Result {
  int code;
  std::string out;
  std::string err;
};

const std::vector<std::string> kLines = {"127.0.0.1",
                                         "1110",
                                         "demo",
                                         "NoMorePass",
                                         "240",
                                         "20",
                                         "0",
                                         "127.0.0.1",
                                         "1125",
                                         "1",
                                         "0",
                                         "0",
                                         "Me <me@example.invalid>"};

std::vector<std::string> SetSettings(std::vector<std::string> lines) {
  lines.insert(lines.begin(), "set-settings");
  return lines;
}

class StoreTool : public testing::IsolatedStore {
 protected:
  static Result Run(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    const int code = store_tool::Run(args, out, err);
    return {code, out.str(), err.str()};
  }
};

TEST_F(StoreTool, WritesTheBytesTheProgramWrites) {
  ASSERT_EQ(Run(SetSettings(kLines)).code, kExitOk);
  ASSERT_EQ(Run({"set", "pellory", "lastfriend", "A <a@example.invalid>"}).code, kExitOk);
  ASSERT_EQ(Run({"set", "--dword", "PELLORY\\BaseFont", "Color", "0x80000008"}).code, kExitOk);
  const std::string by_tool = StoreText();

  fs::remove(StoreFile());
  std::string text;
  for (const std::string& line : kLines) text += (text.empty() ? "" : "\r\n") + line;
  WriteRegString("PELLORY", "Settings", text);
  WriteRegString("PELLORY", "LASTFRIEND", "A <a@example.invalid>");
  WriteRegInteger("PELLORY\\BaseFont", "Color", static_cast<std::int32_t>(0x80000008u));
  EXPECT_EQ(by_tool, StoreText());

  const Result settings = Run({"get", "PELLORY", "Settings"});
  EXPECT_EQ(settings.code, kExitOk);
  EXPECT_EQ(settings.out, text + "\n");
  EXPECT_EQ(Run({"get", "PELLORY\\BaseFont", "Color"}).out, "-2147483640\n");
}

TEST_F(StoreTool, TakesADwordInEachOfItsSpellings) {
  const std::vector<std::pair<std::string, std::string>> cases = {{"0x80000008", "-2147483640"},
                                                                  {"2147483656", "-2147483640"},
                                                                  {"-2147483640", "-2147483640"},
                                                                  {"4294967295", "-1"},
                                                                  {"0XfFfFfFfF", "-1"},
                                                                  {"-2147483648", "-2147483648"},
                                                                  {"0", "0"},
                                                                  {"13", "13"}};
  for (const auto& [given, read] : cases) {
    ASSERT_EQ(Run({"set", "--dword", "PELLORY\\BaseFont", "Size", given}).code, kExitOk) << given;
    EXPECT_EQ(ReadRegInteger("PELLORY\\BaseFont", "Size", 99), std::stoi(read)) << given;
    EXPECT_EQ(Run({"get", "PELLORY\\BaseFont", "Size"}).out, read + "\n") << given;
  }
}

TEST_F(StoreTool, RefusesWhatDovrikWouldNeverStoreAndWritesNothing) {
  std::vector<std::string> password = kLines, line_end = kLines;
  password[3] = "secret";
  line_end[12] = "Me\r\n<me@example.invalid>";
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{}, "usage:"},
      {{"frob"}, "usage:"},
      {{"get", "PELLORY"}, "usage:"},
      {{"dump", "PELLORY"}, "usage:"},
      {{"set", "PELLORY", "Settings"}, "usage:"},
      {{"get", "PELLORY", "Password"}, "PELLORY \"Password\" is not a value Dovrik keeps"},
      {{"set", "PELLORY", "Size", "8"}, "not a value Dovrik keeps"},
      {{"set", "PELLORY\\BaseFont", "Size", "8"}, "is a dword: give --dword"},
      {{"set", "--dword", "PELLORY", "Settings", "1"}, "is a string: leave out --dword"},
      {{"set", "--dword", "PELLORY\\BaseFont", "Size", "12a"}, "not a 32-bit number"},
      {{"set", "--dword", "PELLORY\\BaseFont", "Size", ""}, "not a 32-bit number"},
      {{"set", "--dword", "PELLORY\\BaseFont", "Size", "+1"}, "not a 32-bit number"},
      {{"set", "--dword", "PELLORY\\BaseFont", "Size", "0x"}, "not a 32-bit number"},
      {{"set", "--dword", "PELLORY\\BaseFont", "Size", "0x123456789"}, "not a 32-bit number"},
      {{"set", "--dword", "PELLORY\\BaseFont", "Size", "4294967296"}, "not a 32-bit number"},
      {{"set", "--dword", "PELLORY\\BaseFont", "Size", "-2147483649"}, "not a 32-bit number"},
      {{"set-settings", "a", "b"}, "usage:"},
      {SetSettings(password), "line 4 must be NoMorePass"},
      {SetSettings(line_end), "line 13 holds a line end"},
  };
  for (const auto& [args, message] : cases) {
    const Result r = Run(args);
    EXPECT_EQ(r.code, kExitUsage) << ::testing::PrintToString(args);
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
  EXPECT_FALSE(fs::exists(StoreFile().parent_path()));
}

TEST_F(StoreTool, TellsMissingWrongTypedUnknownAndBrokenValues) {
  const Result missing = Run({"get", "PELLORY", "LASTFRIEND"});
  EXPECT_EQ(missing.code, kExitNotStored);
  EXPECT_EQ(missing.out, "");
  EXPECT_EQ(missing.err, "dovrik-store: PELLORY \"LASTFRIEND\" is not stored\n");

  WriteRegInteger("PELLORY", "Settings", 7);
  WriteRegString("PELLORY\\BaseFont", "Name", "Courier");
  WriteRegString("PELLORY", "Extra", "x");
  const Result wrong = Run({"get", "PELLORY", "Settings"});
  EXPECT_EQ(wrong.code, kExitWrongType);
  EXPECT_EQ(wrong.err, "dovrik-store: PELLORY \"Settings\" is stored as a dword, not a string\n");

  const Result dump = Run({"dump"});
  EXPECT_EQ(dump.code, kExitOk);
  for (const char* line : {"PELLORY\t\"Settings\"\twrong-type\tdword:00000007\n",
                           "PELLORY\t\"LASTFRIEND\"\tmissing\t\"friend@example.invalid\"\n",
                           "PELLORY\t\"InSecurity\"\tmissing\t(the port decides)\n",
                           "PELLORY\\BaseFont\t\"Name\"\tstored\t\"Courier\"\n",
                           "PELLORY\\BaseFont\t\"Color\"\tmissing\tdword:80000008\n",
                           "PELLORY\\BaseFont\t\"Height\"\tmissing\t(follows the size)\n",
                           "PELLORY\t\"Extra\"\tunknown\t\"x\"\n"}) {
    EXPECT_NE(dump.out.find(line), std::string::npos) << line << dump.out;
  }

  SetStoreText("not a store\n");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"get", "PELLORY", "Settings"}, {"dump"}}) {
    const Result broken = Run(args);
    EXPECT_EQ(broken.code, kExitStore);
    EXPECT_NE(broken.err.find("is not a settings store"), std::string::npos) << broken.err;
  }
  EXPECT_EQ(StoreText(), "not a store\n");
}

TEST_F(StoreTool, AStoreThatCannotBeMadeIsReported) {
  std::ofstream(dir_ / "file");
  ::setenv("XDG_CONFIG_HOME", (dir_ / "file").c_str(), 1);
  const Result r = Run({"set", "PELLORY", "LASTFRIEND", "x"});
  EXPECT_EQ(r.code, kExitStore);
  EXPECT_NE(r.err.find("cannot be opened or created"), std::string::npos) << r.err;
}

// The program itself, as a script runs it: exit status and standard output.
TEST_F(StoreTool, TheProgramAnswersAScript) {
  auto run = [](std::vector<std::string> args) {
    args.insert(args.begin(), DOVRIK_STORE_TOOL);
    testing::ChildProcess child(args);
    EXPECT_TRUE(child.Started());
    child.CloseGate();
    const std::string out = child.Read(1 << 16, std::chrono::seconds(30));
    const int status = child.Wait();
    EXPECT_TRUE(WIFEXITED(status)) << status;
    return std::make_pair(WEXITSTATUS(status), out);
  };
  EXPECT_EQ(run(SetSettings(kLines)).first, kExitOk);
  const auto [code, out] = run({"get", "PELLORY", "Settings"});
  EXPECT_EQ(code, kExitOk);
  EXPECT_EQ(out.substr(0, 11), "127.0.0.1\r\n");
  EXPECT_EQ(run({"get", "PELLORY", "LASTFRIEND"}).first, kExitNotStored);
  EXPECT_EQ(run({"set", "PELLORY", "Bogus", "x"}).first, kExitUsage);
}

}  // namespace
}  // namespace dovrik::store_tool
