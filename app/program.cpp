#include "app/program.h"

#include <QApplication>

#include "app/session_end.h"
#include "app/tray_presence.h"
#include "components/rx_tray.h"
#include "ui/compose_window.h"
#include "ui/desktop.h"
#include "ui/main_window.h"
#include "ui/password_prompt.h"
#include "ui/settings_window.h"

namespace dovrik {

void ConfigureApplication() {
  // No application display name: Qt would append it to every window's title, and the windows'
  // captions are the program's own texts. Message boxes name the program themselves.
  // The installed menu entry: desktops match windows and tray items to it by this name.
  QGuiApplication::setDesktopFileName("org.dovrik.Dovrik");
  QApplication::setQuitOnLastWindowClosed(false);  // the program lives in the tray
}

int RunProgram(QApplication& app) {
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
  presence.on_tray_appeared = [&main] {
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

}  // namespace dovrik
