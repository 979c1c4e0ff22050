#include "app/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <system_error>
#include <utility>

namespace dovrik {
namespace {

namespace fs = std::filesystem;

std::string Reason(int code) {
  return std::generic_category().message(code);
}

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

}  // namespace

std::string InstanceLock::displayName() {
  std::string name = Env("WAYLAND_DISPLAY");
  if (name.empty()) {
    name = Env("DISPLAY");
    // ":0" and ":0.0" are the same display; the screen number does not make another desktop.
    const std::size_t colon = name.rfind(':');
    const std::size_t dot = name.find('.', colon == std::string::npos ? 0 : colon);
    if (colon != std::string::npos && dot != std::string::npos) name.erase(dot);
  }
  if (name.empty()) return "no-display";
  for (char& c : name) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '.' || c == '-' || c == '_';
    if (!plain) c = '_';
  }
  return name;
}

fs::path InstanceLock::lockFolder(std::string& error) {
  const std::string runtime = Env("XDG_RUNTIME_DIR");
  struct stat st {};
  if (!runtime.empty() && runtime.front() == '/' && ::stat(runtime.c_str(), &st) == 0 &&
      S_ISDIR(st.st_mode)) {
    return runtime;
  }
  // Another user could make this folder first in the shared /tmp: only our own private one will do.
  fs::path folder = "/tmp/dovrik-" + std::to_string(::getuid());
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    error = "cannot make " + folder.string() + ": " + Reason(errno);
    return {};
  }
  if (::lstat(folder.c_str(), &st) != 0) {
    error = "cannot use " + folder.string() + ": " + Reason(errno);
    return {};
  }
  if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid() || (st.st_mode & 077) != 0) {
    error = folder.string() + " is not a private folder of this user";
    return {};
  }
  return folder;
}

InstanceLock InstanceLock::acquire() {
  std::string error;
  const fs::path folder = lockFolder(error);
  if (folder.empty()) return InstanceLock(State::kFailed, -1, {}, error);
  fs::path path = folder / ("dovrik-" + displayName() + ".lock");
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    return InstanceLock(State::kFailed, -1, path,
                        "cannot open " + path.string() + ": " + Reason(errno));
  }
  int locked;
  while ((locked = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
  }
  if (locked != 0) {
    const int code = errno;
    ::close(fd);
    if (code == EWOULDBLOCK) return InstanceLock(State::kTakenByAnother, -1, path, {});
    return InstanceLock(State::kFailed, -1, path,
                        "cannot lock " + path.string() + ": " + Reason(code));
  }
  // The marker and our process id, for a person looking at the file; only the lock decides.
  char text[64];
  const int length = std::snprintf(text, sizeof text, "0x%08X %ld\n",
                                   static_cast<unsigned>(kMarker), static_cast<long>(::getpid()));
  std::string warning;
  if (::ftruncate(fd, 0) != 0 ||
      ::pwrite(fd, text, static_cast<std::size_t>(length), 0) != length) {
    warning = "cannot write the marker to " + path.string() + ": " + Reason(errno);
  }
  return InstanceLock(State::kHeld, fd, std::move(path), std::move(warning));
}

InstanceLock::InstanceLock(State state, int fd, fs::path path, std::string error)
    : state_(state), fd_(fd), path_(std::move(path)), error_(std::move(error)) {}

InstanceLock::InstanceLock(InstanceLock&& other) noexcept
    : state_(other.state_),
      fd_(std::exchange(other.fd_, -1)),
      path_(std::move(other.path_)),
      error_(std::move(other.error_)) {}

InstanceLock& InstanceLock::operator=(InstanceLock&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    state_ = other.state_;
    fd_ = std::exchange(other.fd_, -1);
    path_ = std::move(other.path_);
    error_ = std::move(other.error_);
  }
  return *this;
}

InstanceLock::~InstanceLock() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace dovrik
