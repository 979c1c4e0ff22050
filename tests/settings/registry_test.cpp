// The four registry routines over the store file.
#include "settings/registry.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <climits>
#include <filesystem>
#include <fstream>

#include "settings/registry_store.h"
#include "tests/settings/isolated_store.h"

namespace dovrik {
namespace {

using Registry = testing::IsolatedStore;
namespace fs = std::filesystem;

std::vector<std::string> KeyPaths(const RegDocument& doc) {
  std::vector<std::string> paths;
  for (const RegKey& key : doc) paths.push_back(key.path);
  return paths;
}

TEST_F(Registry, MissingKeyOrValueGivesTheDefaultAndCreatesNothing) {
  EXPECT_EQ(ReadRegString("PELLORY", "Settings", ""), "");
  EXPECT_EQ(ReadRegInteger("PELLORY", "Size", 8), 8);
  EXPECT_FALSE(fs::exists(StoreFile().parent_path()));  // a read creates no key, nor the store

  WriteRegString("PELLORY", "LASTFRIEND", "a@b");
  EXPECT_EQ(ReadRegString("PELLORY", "Settings", "dflt"), "dflt");  // key there, value missing
  EXPECT_EQ(ReadRegInteger("PELLORY\\BaseFont", "Size", -3), -3);   // child key missing
  EXPECT_EQ(KeyPaths(RegistryStore::ForCurrentUser().ReadAll()).size(), 4u);
}

TEST_F(Registry, WriteCreatesTheWholePathWithTheKeyNameAppendedAsIs) {
  WriteRegInteger("PELLORY\\BaseFont", "Size", 8);
  EXPECT_EQ(KeyPaths(RegistryStore::ForCurrentUser().ReadAll()),
            (std::vector<std::string>{
                "HKEY_CURRENT_USER\\Software",
                "HKEY_CURRENT_USER\\Software\\Brackwater",
                "HKEY_CURRENT_USER\\Software\\Brackwater\\Projects",
                "HKEY_CURRENT_USER\\Software\\Brackwater\\Projects\\PELLORY",
                "HKEY_CURRENT_USER\\Software\\Brackwater\\Projects\\PELLORY\\BaseFont",
            }));
  EXPECT_EQ(ReadRegInteger("PELLORY\\BaseFont", "Size", 0), 8);
  // No separator is put between base key and key name; names compare case-insensitively.
  RegistryBaseKey = "Software\\Brack";
  EXPECT_EQ(ReadRegInteger("water\\Projects\\pellory\\BASEFONT", "size", 0), 8);
}

struct IntegerCase {
  std::int32_t value;
  const char* stored;
};
class RegistryIntegers : public Registry, public ::testing::WithParamInterface<IntegerCase> {};

TEST_P(RegistryIntegers, KeepTheirTwosComplementBits) {
  WriteRegInteger("PELLORY\\BaseFont", "N", GetParam().value);
  EXPECT_EQ(ReadRegInteger("PELLORY\\BaseFont", "N", 12345), GetParam().value);
  EXPECT_NE(StoreText().find(std::string("\"N\"=dword:") + GetParam().stored), std::string::npos)
      << StoreText();
}
INSTANTIATE_TEST_SUITE_P(
    Values, RegistryIntegers,
    ::testing::Values(IntegerCase{-11, "fffffff5"},
                      IntegerCase{static_cast<std::int32_t>(0x80000008u), "80000008"},
                      IntegerCase{0, "00000000"}, IntegerCase{INT32_MIN, "80000000"},
                      IntegerCase{INT32_MAX, "7fffffff"}),
    [](const auto& info) { return std::string("x") + info.param.stored; });

TEST_F(Registry, ValuesKeepTheirTypesAndAReadOfTheOtherTypeRaises) {
  WriteRegString("PELLORY", "Settings", "12");
  WriteRegInteger("PELLORY", "Count", 12);
  EXPECT_EQ(ReadRegString("PELLORY", "Settings", ""), "12");
  EXPECT_EQ(ReadRegInteger("PELLORY", "Count", 0), 12);
  EXPECT_THROW(ReadRegInteger("PELLORY", "Settings", 0), ERegistryException);
  EXPECT_THROW(ReadRegString("PELLORY", "Count", ""), ERegistryException);
  // A write replaces the value, type included.
  WriteRegInteger("PELLORY", "Settings", 7);
  EXPECT_EQ(ReadRegInteger("PELLORY", "Settings", 0), 7);
}

TEST_F(Registry, TextWithAnyByteReadsBackIdentical) {
  std::string every_byte = "line one\r\nline two\rthree\n\"quoted\" \\ back";
  for (int b = 0; b < 256; ++b) every_byte.push_back(static_cast<char>(b));
  every_byte +=
      "Gr\xc3\xbc\xc3\x9f"
      "e \xe2\x82\xac \xff\xfe \xed\xa0\x80 \xc0\xaf";
  WriteRegString("PELLORY", "Settings", every_byte);
  WriteRegString("PELLORY", every_byte, "name too");
  EXPECT_EQ(ReadRegString("PELLORY", "Settings", ""), every_byte);
  EXPECT_EQ(ReadRegString("PELLORY", every_byte, ""), "name too");
  // The file stays line-oriented, and valid UTF-8 stays readable in it.
  const std::string text = StoreText();
  EXPECT_EQ(text.find('\r'), std::string::npos);
  EXPECT_NE(text.find("\"Settings\"=\"line one\\r\\nline two\\rthree\\n\\\"quoted\\\" \\\\ back"),
            std::string::npos);
  EXPECT_NE(text.find("Gr\xc3\xbc\xc3\x9f"
                      "e \xe2\x82\xac \\xff\\xfe \\xed\\xa0\\x80 \\xc0\\xaf"),
            std::string::npos);
}

TEST_F(Registry, UnparsableStoreReadsAsEmptyAndIsKeptAsideBeforeAWrite) {
  const std::string header = std::string(kRegTextHeader) + "\n";
  for (const std::string& bad : {
           std::string("garbage"),
           header + "\"Settings\"=\"orphan value\"\n",
           header + "[HKEY_CURRENT_USER\\Software\\Brackwater\\Projects\\PELLORY]\n\"S\"=\"cut",
           header + "[HKEY_CURRENT_USER\\Software\\Brackwater\\Projects\\PELLORY]\n\"S\"=\"\\q\"\n",
           header +
               "[HKEY_CURRENT_USER\\Software\\Brackwater\\Projects\\PELLORY]\n\"S\"=dword:1x\n",
           header + "[HKEY_CURRENT_USER\\\\Software]\n",
       }) {
    SetStoreText(bad);
    EXPECT_EQ(ReadRegString("PELLORY", "S", "dflt"), "dflt") << bad;
  }
  SetStoreText("first garbage");
  WriteRegString("PELLORY", "S", "one");
  SetStoreText("second garbage");
  WriteRegString("PELLORY", "T", "two");
  EXPECT_EQ(ReadRegString("PELLORY", "S", "gone"), "gone");  // the store restarted empty
  EXPECT_EQ(ReadRegString("PELLORY", "T", ""), "two");
  auto read = [](const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  EXPECT_EQ(read(StoreFile().string() + ".corrupt-1"), "first garbage");
  EXPECT_EQ(read(StoreFile().string() + ".corrupt-2"), "second garbage");
}

TEST_F(Registry, HandEditedStoreIsAcceptedAndRewrittenInOrder) {
  SetStoreText(std::string(kRegTextHeader) +
               "\r\n; edited by hand\r\n"
               "[HKEY_CURRENT_USER\\Software\\Brackwater\\Projects\\PELLORY]\r\n"
               "\"A\"=\"1\"\r\n\r\n"
               "[HKEY_CURRENT_USER\\Software\\Brackwater\\Projects\\OTHER]\r\n"
               "@=dword:7\r\n"
               "[hkey_current_user\\software\\brackwater\\projects\\pellory]\r\n"
               "\"a\"=\"2\"\r\n");
  EXPECT_EQ(ReadRegString("PELLORY", "A", ""), "2");  // the later of two sections wins
  EXPECT_EQ(ReadRegInteger("OTHER", "", 0), 7);
  WriteRegString("PELLORY", "B", "3");
  EXPECT_EQ(StoreText(), std::string(kRegTextHeader) +
                             "\n\n"
                             "[HKEY_CURRENT_USER\\Software]\n\n"
                             "[HKEY_CURRENT_USER\\Software\\Brackwater]\n\n"
                             "[HKEY_CURRENT_USER\\Software\\Brackwater\\Projects]\n\n"
                             "[HKEY_CURRENT_USER\\Software\\Brackwater\\Projects\\OTHER]\n"
                             "@=dword:00000007\n\n"
                             "[HKEY_CURRENT_USER\\Software\\Brackwater\\Projects\\PELLORY]\n"
                             "\"A\"=\"2\"\n"
                             "\"B\"=\"3\"\n");
}

TEST_F(Registry, UnreachableStoreOrKeyStaysSilent) {
  // A store folder below a plain file cannot be created, whoever runs the test.
  std::ofstream(dir_ / "plain-file") << "x";
  ::setenv("XDG_CONFIG_HOME", (dir_ / "plain-file" / "config").c_str(), 1);
  EXPECT_NO_THROW(WriteRegString("PELLORY", "Settings", "lost"));
  EXPECT_NO_THROW(WriteRegInteger("PELLORY", "N", 1));
  EXPECT_EQ(ReadRegString("PELLORY", "Settings", "dflt"), "dflt");
  ::setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);

  // Keys that cannot exist: an unknown hive, a name with a line break.
  RegistryRoot = 0x12345678;
  EXPECT_NO_THROW(WriteRegString("PELLORY", "Settings", "lost"));
  EXPECT_EQ(ReadRegString("PELLORY", "Settings", "dflt"), "dflt");
  RegistryRoot = kHkeyCurrentUser;
  EXPECT_NO_THROW(WriteRegString("PELL\nORY", "Settings", "lost"));
  EXPECT_FALSE(fs::exists(StoreFile()));
}

TEST_F(Registry, AStoreThatFailsToKeepAValueRaisesAndKeepsTheOldFile) {
  WriteRegString("PELLORY", "Settings", "old");
  const std::string before = StoreText();
  {
    // A file size limit makes the new file's write fail as a full disk would.
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto* old_handler = ::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = before.size() + 10;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    EXPECT_THROW(WriteRegString("PELLORY", "Settings", std::string(200, 'n')), ERegistryException);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::signal(SIGXFSZ, old_handler);
  }
  EXPECT_EQ(StoreText(), before);
  EXPECT_FALSE(fs::exists(StoreFile().string() + ".tmp"));
}

TEST_F(Registry, AStoreThatIsASymbolicLinkStaysOne) {
  fs::create_directories(dir_ / "dotfiles");
  fs::create_directories(StoreFile().parent_path());
  fs::create_symlink(dir_ / "dotfiles" / "registry.reg", StoreFile());
  WriteRegString("PELLORY", "Settings", "kept");
  EXPECT_TRUE(fs::is_symlink(StoreFile()));
  EXPECT_EQ(ReadRegString("PELLORY", "Settings", ""), "kept");
}

}  // namespace
}  // namespace dovrik
