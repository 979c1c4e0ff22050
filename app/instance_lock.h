// One copy of Dovrik per user and display.
//
// The running copy holds an exclusive flock on a small file in the user's runtime folder
// ($XDG_RUNTIME_DIR, else /tmp/dovrik-<uid>), named for the display it shows on; the file records
// the instance marker and the holder's process id. The kernel drops the lock when the holder's
// last descriptor closes, so a copy that crashed or was killed never blocks the next start.
// Taken once on the main thread, before any window exists, and held for the life of the process.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "settings/stored_values.h"

namespace dovrik {

class InstanceLock {
 public:
  // The instance marker, recorded in the lock file.
  static constexpr std::uint32_t kMarker = stored::kInstanceMarker;

  enum class State {
    kHeld,            // this process holds the lock: go on starting
    kTakenByAnother,  // another copy holds it: refuse the start
    kFailed,          // the lock file could not be made, opened or locked; error() says why
  };
  // With kHeld, error() may still say that the marker could not be written (a full runtime
  // folder): the lock holds all the same.

  // Tries once and never waits. Reads XDG_RUNTIME_DIR, WAYLAND_DISPLAY and DISPLAY.
  static InstanceLock acquire();

  InstanceLock(InstanceLock&& other) noexcept;
  InstanceLock& operator=(InstanceLock&& other) noexcept;
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;
  ~InstanceLock();  // releases the lock (the file stays for the next copy)

  State state() const { return state_; }
  const std::string& error() const { return error_; }
  const std::filesystem::path& path() const { return path_; }

  // The display's part of the lock file's name: WAYLAND_DISPLAY if set, else DISPLAY without its
  // screen number, else "no-display"; characters other than letters, digits, '.', '-' and '_'
  // become '_'.
  static std::string displayName();
  // The folder of the lock file: $XDG_RUNTIME_DIR when it is an absolute path to a folder, else
  // /tmp/dovrik-<uid>, created 0700 and refused unless it is the user's own and private.
  static std::filesystem::path lockFolder(std::string& error);

 private:
  InstanceLock(State state, int fd, std::filesystem::path path, std::string error);

  State state_;
  int fd_;
  std::filesystem::path path_;
  std::string error_;
};

}  // namespace dovrik
