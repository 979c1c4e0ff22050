#include "model/message_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <system_error>
#include <vector>

#include "engine/text_lines.h"

namespace dovrik {
namespace {

namespace fs = std::filesystem;

FileError ErrorFor(const fs::path& path, int code) {
  return {code, "Cannot save the message as \"" + path.string() +
                    "\": " + std::generic_category().message(code)};
}

// A symbolic link is followed to the file it names (even one that does not exist yet), so saving
// over a link replaces the linked file rather than the link.
fs::path FinalPath(const fs::path& path) {
  std::error_code ec;
  if (!fs::is_symlink(path, ec)) return path;
  fs::path target = fs::weakly_canonical(path, ec);
  return ec ? path : target;
}

// Opens a new file beside target under a name nobody else uses.
int OpenTemporary(const fs::path& target, fs::path& temp) {
  static std::atomic<unsigned> counter{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp = target.parent_path() /
           ("." + target.filename().string() + ".part-" + std::to_string(::getpid()) + "-" +
            std::to_string(stamp) + "-" + std::to_string(++counter));
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

int WriteAll(int fd, std::string_view bytes, const WriteSome& write) {
  while (!bytes.empty()) {
    const ssize_t n =
        write ? write(fd, bytes.data(), bytes.size()) : ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return ENOSPC;  // no progress: the device takes nothing more
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return 0;
}

// Makes the rename itself durable; the file is complete under its name whether or not this works.
void SyncFolder(const fs::path& folder) {
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

std::string MessageFileBytes(std::string_view raw) {
  std::string bytes;
  bytes.reserve(raw.size() + raw.size() / 16 + 2);
  for (std::string_view line : SplitLines(raw)) bytes.append(line).append("\r\n");
  return bytes;
}

std::string EmlFileBytes(std::string_view raw) {
  if (raw.substr(0, 3) != "+OK") return MessageFileBytes(raw);
  std::vector<std::string_view> lines = SplitLines(raw);
  lines.erase(lines.begin());
  if (!lines.empty() && lines.back() == ".") lines.pop_back();
  std::string bytes;
  bytes.reserve(raw.size() + raw.size() / 16 + 2);
  for (std::string_view line : lines) {
    if (!line.empty() && line.front() == '.') line.remove_prefix(1);
    bytes.append(line).append("\r\n");
  }
  return bytes;
}

bool IsEmlPath(const fs::path& path) {
  std::string extension = path.extension().string();
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension == ".eml";
}

std::optional<FileError> SaveMessageFile(const fs::path& path, std::string_view raw) {
  return WriteFileReplacing(path, IsEmlPath(path) ? EmlFileBytes(raw) : MessageFileBytes(raw));
}

std::optional<FileError> WriteFileReplacing(const fs::path& path, std::string_view bytes,
                                            const WriteSome& write) {
  const fs::path target = FinalPath(path);
  if (target.filename().empty()) return ErrorFor(path, EISDIR);
  fs::path temp;
  const int fd = OpenTemporary(target, temp);
  if (fd < 0) return ErrorFor(path, errno);

  int error = WriteAll(fd, bytes, write);
  struct stat old {};
  if (error == 0 && ::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode) &&
      ::fchmod(fd, old.st_mode & 07777) != 0) {
    error = errno;
  }
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && ::rename(temp.c_str(), target.c_str()) != 0) error = errno;
  if (error != 0) {
    ::unlink(temp.c_str());
    return ErrorFor(path, error);
  }
  SyncFolder(target.parent_path());
  return std::nullopt;
}

}  // namespace dovrik
