#include "settings/registry_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <utility>

namespace dovrik {
namespace {

class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int Get() const { return fd_; }
  // Closes now and reports the result; close can report a delayed write error.
  int Close() { return ::close(std::exchange(fd_, -1)); }

 private:
  int fd_;
};

enum class ReadStatus { kOk, kMissing, kError };

ReadStatus ReadWholeFile(const std::string& path, std::string& out) {
  out.clear();
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.Get() < 0) return errno == ENOENT ? ReadStatus::kMissing : ReadStatus::kError;
  struct stat st {};
  if (::fstat(fd.Get(), &st) == 0 && st.st_size > 0) out.reserve(static_cast<size_t>(st.st_size));
  char buf[16384];
  for (;;) {
    const ssize_t n = ::read(fd.Get(), buf, sizeof buf);
    if (n == 0) return ReadStatus::kOk;
    if (n < 0) {
      if (errno == EINTR) continue;
      return ReadStatus::kError;
    }
    out.append(buf, static_cast<size_t>(n));
  }
}

bool MakeDirectories(const std::string& dir) {
  struct stat st {};
  if (::stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  const std::size_t slash = dir.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !MakeDirectories(dir.substr(0, slash))) {
    return false;
  }
  return ::mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// Errors that mean "no access to the store" rather than "the store failed to keep the data".
bool IsAccessError(int e) {
  return e == EACCES || e == EPERM || e == EROFS || e == ENOTDIR || e == EISDIR || e == ENOENT ||
         e == ELOOP || e == ENAMETOOLONG;
}

std::string ParentDirectory(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Keeps an unparsable file under a new name that no earlier one uses; the original name is then
// replaced by the caller. A hard link keeps the file in place until that replacement.
bool KeepAside(const std::string& path) {
  for (int n = 1; n <= 1000; ++n) {
    const std::string aside = path + ".corrupt-" + std::to_string(n);
    if (::link(path.c_str(), aside.c_str()) == 0) return true;
    if (errno == EEXIST) continue;
    // File systems without hard links: move it, never over an existing file.
    if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE) == 0) {
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

}  // namespace

RegistryStore RegistryStore::ForCurrentUser() {
  std::string base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/') {
      const passwd* pw = ::getpwuid(::getuid());
      home = pw != nullptr ? pw->pw_dir : nullptr;
    }
    base = home != nullptr ? std::string(home) + "/.config" : std::string();
  }
  return RegistryStore(base + "/dovrik/registry.reg");
}

RegistryStore::RegistryStore(std::string file_path) : path_(std::move(file_path)) {}

RegLookup RegistryStore::Find(std::string_view key_path, std::string_view name,
                              RegValue& out) const {
  std::string text;
  if (ReadWholeFile(path_, text) != ReadStatus::kOk) return RegLookup::kNoKey;
  return FindRegValue(text, key_path, name, out);
}

RegDocument RegistryStore::ReadAll() const {
  std::string text;
  if (ReadWholeFile(path_, text) != ReadStatus::kOk) return {};
  std::optional<RegDocument> doc = ParseRegText(text);
  return doc ? std::move(*doc) : RegDocument{};
}

std::optional<RegDocument> RegistryStore::TryReadAll() const {
  std::string text;
  switch (ReadWholeFile(path_, text)) {
    case ReadStatus::kMissing:
      return RegDocument{};
    case ReadStatus::kError:
      return std::nullopt;
    case ReadStatus::kOk:
      break;
  }
  return ParseRegText(text);
}

RegistryStore::WriteResult RegistryStore::Update(const std::function<void(RegDocument&)>& edit,
                                                 int* error_number) {
  if (error_number != nullptr) *error_number = 0;
  if (!MakeDirectories(ParentDirectory(path_))) return WriteResult::kCannotAccess;

  // The lock lives in a file of its own: the store file itself is replaced on every write.
  UniqueFd lock(::open((path_ + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (lock.Get() < 0) return WriteResult::kCannotAccess;
  while (::flock(lock.Get(), LOCK_EX) != 0) {
    if (errno != EINTR) return WriteResult::kCannotAccess;
  }

  // A store that is a symbolic link (kept with other dot files, say) stays one: replace its target.
  std::string target = path_;
  for (int hops = 0;; ++hops) {
    struct stat st {};
    if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
    char link[PATH_MAX];
    const ssize_t n = ::readlink(target.c_str(), link, sizeof link);
    if (n <= 0 || n >= static_cast<ssize_t>(sizeof link) || hops == 40) {
      return WriteResult::kCannotAccess;
    }
    const std::string_view to(link, static_cast<size_t>(n));
    target = to.front() == '/' ? std::string(to) : ParentDirectory(target) + "/" + std::string(to);
  }

  std::string old_text;
  const ReadStatus status = ReadWholeFile(target, old_text);
  if (status == ReadStatus::kError) return WriteResult::kCannotAccess;
  std::optional<RegDocument> doc =
      status == ReadStatus::kMissing ? RegDocument{} : ParseRegText(old_text);
  if (!doc) {
    if (!KeepAside(target)) return WriteResult::kCannotAccess;
    doc.emplace();
  }
  edit(*doc);
  const std::string text = FormatRegText(*doc);
  if (status == ReadStatus::kOk && text == old_text) return WriteResult::kUnchanged;

  const std::string temp = target + ".tmp";
  auto fail = [&](int e) {
    ::unlink(temp.c_str());
    if (error_number != nullptr) *error_number = e;
    return IsAccessError(e) ? WriteResult::kCannotAccess : WriteResult::kFailed;
  };
  UniqueFd out(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (out.Get() < 0) return fail(errno);
  if (!WriteAll(out.Get(), text) || ::fsync(out.Get()) != 0 || out.Close() != 0) return fail(errno);
  if (::rename(temp.c_str(), target.c_str()) != 0) return fail(errno);
  // The rename itself reaches the disk only with the directory.
  UniqueFd dir(::open(ParentDirectory(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.Get() >= 0 && ::fsync(dir.Get()) != 0 && errno != EINVAL) {
    if (error_number != nullptr) *error_number = errno;
    return WriteResult::kFailed;
  }
  return WriteResult::kWritten;
}

}  // namespace dovrik
