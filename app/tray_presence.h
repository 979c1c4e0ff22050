// Keeps the main window within the user's reach on a desktop without a tray (a stock session of
// some desktops has none): there a hidden window and a tray icon nobody sees would leave nothing
// to click. While no tray is available the main window is shown at start and its close button
// minimises it instead of hiding it; as soon as a tray appears, the tray behaviour is back.
//
// Looks for a tray every few seconds only while there is none (a coarse timer; nothing runs
// while a tray is there). GUI thread only; owned by the program's start, lives while the window
// does. It watches the window's close events: the window's own close handling runs first; a close
// the window allowed is announced by closed() (the program ends then), and without a tray a close
// the window refused (it hid itself instead) is turned into a minimise.
#pragma once

#include <QObject>
#include <functional>

class QTimer;
class QWidget;

namespace dovrik {

class TrayPresence : public QObject {
  Q_OBJECT
 public:
  // tray_available defaults to QSystemTrayIcon::isSystemTrayAvailable.
  explicit TrayPresence(QWidget& main_window, std::function<bool()> tray_available = {},
                        int poll_ms = 3000);
  ~TrayPresence() override;

  // At program start, after the windows exist: shows the main window when no tray is there.
  void start();
  bool trayAvailable() const { return tray_; }
  // One look for a tray (the timer's tick; public so tests drive it).
  void poll();
  bool polling() const;

  // Called once when a tray has appeared after the start: the icon is put into it.
  std::function<void()> on_tray_appeared;

 signals:
  void closed();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget& window_;
  std::function<bool()> tray_available_;
  QTimer* timer_;  // child
  bool tray_ = true;
};

}  // namespace dovrik
