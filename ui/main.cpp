// dovrik: the program. One copy per user and display; the four windows in their order; a hidden
// main window with only the tray icon; the event loop until the main window closes.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>

#include "components/rx_tray.h"
#include "components/tray_adapter.h"
#include "platform/message_queue.h"
#include "ui/compose_window.h"
#include "ui/desktop.h"
#include "ui/instance_lock.h"
#include "ui/main_window.h"
#include "ui/password_prompt.h"
#include "ui/session_end.h"
#include "ui/settings_window.h"
#include "ui/tray_presence.h"

namespace {

constexpr const char* kRefusal = "One Quorrel is enough!";

bool Set(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0';
}

bool HaveDisplay() {
  return Set("DISPLAY") || Set("WAYLAND_DISPLAY") || Set("QT_QPA_PLATFORM");
}

// The running copy is told nothing. The box comes before the application's title is set, so its
// caption is the platform's default for the program.
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

  const InstanceLock lock = InstanceLock::Acquire();
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
  QApplication::setApplicationDisplayName("Dovrik");
  // The installed menu entry: desktops match windows and tray items to it by this name.
  QGuiApplication::setDesktopFileName("org.dovrik.Dovrik");
  QApplication::setQuitOnLastWindowClosed(false);  // the program lives in the tray

  // Caught before the main window exists: its constructor already puts the icon into the tray,
  // and a SIGTERM after that must end the program as a session's end, not kill it. Announcements
  // wait in the pipe until an event loop reads them, and none runs before the main window exists.
  MainWindow* main_window = nullptr;
  SessionEnd session_end([&main_window] {
    if (main_window != nullptr) main_window->endSession();
  });

  QtDesktop desktop;
  MainWindow main(desktop);
  main_window = &main;
  TrayPresence presence(main);
  presence.onTrayAppeared = [&main] {
    if (main.tray().Active() && !main.tray().InTray()) main.tray().SetActive(true);
  };
  bool ending = false;
  QObject::connect(
      &presence, &TrayPresence::closed, &app,
      [&app, &ending] {
        ending = true;
        // Before app.exec() runs, quit() has no loop to end: the first setup's modal window
        // would stay open and the program with it. Closing that window ends its own loop.
        if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
        app.quit();
      },
      Qt::QueuedConnection);

  SettingsWindow settings(main.link(), desktop);
  settings.formCreate();
  if (ending) return 0;  // the session ended during the first setup
  ComposeWindow compose(desktop, [&settings] { return settings.senderText(); });
  PasswordPrompt prompt(desktop, [&settings] { return settings.timeoutText(); });
  main.connectWindows(&settings, &prompt, &compose);
  main.applyBaseFont();

  presence.start();  // the tray icon alone, or the window where there is no tray
  const int code = app.exec();
  main.connectWindows(nullptr, nullptr, nullptr);  // the other windows go first
  return code == 0 ? 0 : 1;
}
