// The program once it runs alone on a desktop: the four windows in their order, a hidden main
// window with only the tray icon, the session's end and the tray's presence connected to them,
// and the event loop until the main window closes.
//
// Main thread only, after platform::SetMainThread and with the QApplication made. Everything it
// creates lives on its stack and is gone when it returns.
#pragma once

class QApplication;

namespace dovrik {

// The application object's program-wide settings, before any window is made: the desktop file
// name, and the program lives on in the tray with no window open. No display name is set, so
// every caption reaches the window system as the program's own text.
void ConfigureApplication();

// 0 when the event loop ended normally or the session ended during the first setup, else 1.
int RunProgram(QApplication& app);

}  // namespace dovrik
