// dovrik: the process. One copy per user and display, a desktop to show on, the application
// object; the windows and their event loop are RunProgram's.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>

#include "app/instance_lock.h"
#include "app/program.h"
#include "platform/message_queue.h"

namespace {

constexpr const char* kRefusal = "One Quorrel is enough!";

bool Set(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0';
}

bool HaveDisplay() {
  return Set("DISPLAY") || Set("WAYLAND_DISPLAY") || Set("QT_QPA_PLATFORM");
}

// The running copy is told nothing. The box has no caption of its own: the platform's default for
// the program stands.
int RefuseSecondCopy(int argc, char** argv) {
  if (!HaveDisplay()) {
    std::fprintf(stderr, "%s\n", kRefusal);
    return 1;
  }
  QApplication app(argc, argv);
  QMessageBox box(QMessageBox::NoIcon, QString(), kRefusal, QMessageBox::Ok);
  box.setObjectName("OneCopyOnly");
  box.exec();
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace dovrik;

  const InstanceLock lock = InstanceLock::acquire();
  switch (lock.state()) {
    case InstanceLock::State::kTakenByAnother:
      return RefuseSecondCopy(argc, argv);
    case InstanceLock::State::kFailed:
      std::fprintf(stderr, "dovrik: cannot tell whether another copy runs: %s\n",
                   lock.error().c_str());
      return 1;
    case InstanceLock::State::kHeld:
      if (!lock.error().empty()) std::fprintf(stderr, "dovrik: %s\n", lock.error().c_str());
      break;
  }
  if (!HaveDisplay()) {
    std::fprintf(stderr,
                 "dovrik: no desktop to show on: neither DISPLAY nor WAYLAND_DISPLAY is set\n");
    return 1;
  }

  platform::SetMainThread();
  QApplication app(argc, argv);
  ConfigureApplication();

  return RunProgram(app);
}
