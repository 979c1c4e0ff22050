// A second process for the model and app tests.
//   app_probe lock
//       takes the single-instance lock, prints "H" (held), "T" (taken by another) or "F<reason>",
//       then waits for a byte or the end of standard input before it ends (holding the lock).
//   app_probe save <full|read-only> FOLDER
//       in a mount namespace of its own, puts a 16 KiB disk on FOLDER holding "msg.eml" with the
//       text "old", makes it full or read-only, saves a 64 KiB message over "msg.eml" and prints
//       the error number, the folder's file names and the content of "msg.eml", one per line.
//       Ends with 77 when it cannot have a private disk.
#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/instance_lock.h"
#include "model/message_file.h"

namespace {

int HoldLock() {
  dovrik::InstanceLock lock = dovrik::InstanceLock::acquire();
  switch (lock.state()) {
    case dovrik::InstanceLock::State::kHeld:
      std::printf("H");
      break;
    case dovrik::InstanceLock::State::kTakenByAnother:
      std::printf("T");
      break;
    case dovrik::InstanceLock::State::kFailed:
      std::printf("F%s", lock.error().c_str());
      break;
  }
  std::fflush(stdout);
  char gate;
  return ::read(0, &gate, 1) < 0 ? 4 : 0;
}

bool WriteId(const char* file, const std::string& text) {
  const int fd = ::open(file, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ::close(fd);
  return ok;
}

// A mount namespace of our own: as root directly, else inside a user namespace of our own.
bool PrivateMounts() {
  if (::unshare(CLONE_NEWNS) != 0) {
    const uid_t uid = ::getuid();
    const gid_t gid = ::getgid();
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return false;
    WriteId("/proc/self/setgroups", "deny");
    if (!WriteId("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
        !WriteId("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
      return false;
    }
  }
  return ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

int Save(const std::string& mode, const std::string& folder) {
  if (!PrivateMounts() || ::mount("dovrik-test", folder.c_str(), "tmpfs", 0, "size=16k") != 0) {
    return 77;
  }
  const std::string target = folder + "/msg.eml";
  std::ofstream(target) << "old";
  if (mode == "read-only") {
    if (::mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0) return 77;
  } else {  // fill the disk up to its last block
    std::ofstream filler(folder + "/filler", std::ios::binary);
    const std::string block(4096, 'x');
    while (filler.write(block.data(), block.size()) && filler.flush()) {
    }
  }
  const std::string message(64 * 1024, 'm');
  const auto error = dovrik::SaveMessageFile(target, message);
  std::printf("%d\n", error ? error->code : 0);
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != ".." && name != "filler") names.push_back(name);
    }
    ::closedir(dir);
  }
  std::sort(names.begin(), names.end());
  for (const auto& name : names) std::printf("%s ", name.c_str());
  std::ostringstream content;
  content << std::ifstream(target).rdbuf();
  std::printf("\n%s\n", content.str().c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "lock" && argc == 2) return HoldLock();
  if (command == "save" && argc == 4) return Save(argv[2], argv[3]);
  std::fprintf(stderr, "usage: app_probe lock | save <full|read-only> FOLDER\n");
  return 2;
}
