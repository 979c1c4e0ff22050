// Saving a message to a file: the line ends, and a failed save that leaves the chosen name as it
// was with no partial file beside it.
#include "model/message_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <fstream>
#include <sstream>

#include "tests/app/probe_process.h"

namespace dovrik {
namespace {

namespace fs = std::filesystem;

class MessageFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "dovrik-save-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  static std::string Content(const fs::path& path) {
    std::ostringstream s;
    s << std::ifstream(path, std::ios::binary).rdbuf();
    return s.str();
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path dir_;
};

TEST_F(MessageFileTest, EveryLineEndsInCrLf) {
  const struct {
    std::string raw;
    std::string file;
  } cases[] = {
      {"a\r\nb\r\n", "a\r\nb\r\n"},
      {"a\nb", "a\r\nb\r\n"},
      {"a\rb\r", "a\r\nb\r\n"},
      {"a\r\rb\n\nc", "a\r\n\r\nb\r\n\r\nc\r\n"},
      {"a\n\rb", "a\r\n\r\nb\r\n"},  // LF then CR: two breaks
      {"", ""},
      {"\r\n", "\r\n"},
      {std::string("x\0y\xff", 4), std::string("x\0y\xff\r\n", 6)},
  };
  const fs::path file = dir_ / "m.txt";
  for (const auto& c : cases) {
    EXPECT_EQ(MessageFileBytes(c.raw), c.file);
    ASSERT_FALSE(SaveMessageFile(file, c.raw).has_value());
    EXPECT_EQ(Content(file), c.file);
  }
  EXPECT_EQ(Names(), std::vector<std::string>{"m.txt"});
}

// A .eml file holds the message itself, which mail programs open; a .txt file (or any other)
// keeps the server's reply as it came, line ends aside.
TEST_F(MessageFileTest, AnEmlFileHoldsTheMessageWithoutThePop3Framing) {
  const std::string reply = "+OK 30 octets\r\nSubject: s\r\n\r\n..dot\r\n.\r\n";
  const struct {
    std::string raw;
    std::string eml;
  } cases[] = {
      {reply, "Subject: s\r\n\r\n.dot\r\n"},
      {"+OK\nSubject: s\n\nbody\n..\n.\n", "Subject: s\r\n\r\nbody\r\n.\r\n"},    // LF only
      {"+OK 0 octets\r\n.\r\n", ""},                                              // empty
      {"+OK\r\nSubject: s\r\n\r\ncut short", "Subject: s\r\n\r\ncut short\r\n"},  // no end line
      {"Subject: s\n\n..kept\n", "Subject: s\r\n\r\n..kept\r\n"},  // no status line: as it is
  };
  for (const auto& c : cases) {
    EXPECT_EQ(EmlFileBytes(c.raw), c.eml) << c.raw;
  }
  ASSERT_FALSE(SaveMessageFile(dir_ / "m.EML", reply).has_value());
  EXPECT_EQ(Content(dir_ / "m.EML"), "Subject: s\r\n\r\n.dot\r\n");
  ASSERT_FALSE(SaveMessageFile(dir_ / "m.txt", reply).has_value());
  EXPECT_EQ(Content(dir_ / "m.txt"), reply);
}

TEST_F(MessageFileTest, ReplacesAnExistingFileKeepingItsModeAndFollowsALink) {
  const fs::path file = dir_ / "kept.txt";
  std::ofstream(file) << "a much longer old content than the new one";
  ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
  fs::create_symlink("kept.txt", dir_ / "link.txt");
  ASSERT_FALSE(SaveMessageFile(dir_ / "link.txt", "new").has_value());
  EXPECT_EQ(Content(file), "new\r\n");
  EXPECT_TRUE(fs::is_symlink(dir_ / "link.txt"));
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(MessageFileTest, AFailingDiskLeavesTheOldFileAndNoPartialOne) {
  const fs::path file = dir_ / "msg.eml";
  std::ofstream(file) << "old";
  const struct {
    const char* what;
    int code;
    int after_bytes;  // the disk takes this much, then fails
  } cases[] = {
      {"full at once", ENOSPC, 0}, {"full half way", ENOSPC, 3000}, {"I/O error", EIO, 10}};
  for (const auto& c : cases) {
    int taken = 0;
    const auto error = WriteFileReplacing(
        file, std::string(8000, 'm'), [&](int fd, const void* data, std::size_t size) -> ssize_t {
          const std::size_t room = static_cast<std::size_t>(c.after_bytes - taken);
          if (room == 0) {
            errno = c.code;
            return -1;
          }
          taken += static_cast<int>(std::min(room, size));
          return ::write(fd, data, std::min(room, size));
        });
    ASSERT_TRUE(error.has_value()) << c.what;
    EXPECT_EQ(error->code, c.code) << c.what;
    EXPECT_NE(error->message.find(file.string()), std::string::npos) << error->message;
    EXPECT_EQ(Content(file), "old") << c.what;
    EXPECT_EQ(Names(), std::vector<std::string>{"msg.eml"}) << c.what;
  }
}

TEST_F(MessageFileTest, NoFolderOrAFolderInTheWay) {
  const struct {
    fs::path path;
    int code;
  } cases[] = {{dir_ / "missing" / "m.eml", ENOENT}, {dir_, EISDIR}};
  fs::create_directory(dir_ / "sub");
  for (const auto& c : cases) {
    const auto error = SaveMessageFile(c.path, "x");
    ASSERT_TRUE(error.has_value()) << c.path;
    EXPECT_NE(error->code, 0) << c.path;
  }
  const auto into_folder = SaveMessageFile(dir_ / "sub", "x");
  ASSERT_TRUE(into_folder.has_value());
  EXPECT_TRUE(fs::is_directory(dir_ / "sub"));
  EXPECT_EQ(Names(), (std::vector<std::string>{"sub"}));
}

// A real small disk, full or mounted read-only, in a mount namespace of the probe's own.
TEST_F(MessageFileTest, RealFullAndReadOnlyDisks) {
  const struct {
    const char* mode;
    int code;
  } cases[] = {{"full", ENOSPC}, {"read-only", EROFS}};
  for (const auto& c : cases) {
    testing::ProbeProcess probe({"save", c.mode, dir_.string()});
    ASSERT_TRUE(probe.Started());
    const std::string output = probe.ReadAll();
    const int status = probe.Wait();
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77) {
      GTEST_SKIP() << "no private disk can be mounted here";
    }
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(output, std::to_string(c.code) + "\nmsg.eml \nold\n") << c.mode;
  }
}

}  // namespace
}  // namespace dovrik
