// The notification area as the tray icon component sees it: add, modify and remove one icon with
// a tip, and the mouse actions that happen on it. QSystemTrayIcon in the program; tests give a
// recording double.
#pragma once

#include <QIcon>
#include <QPoint>
#include <QString>
#include <functional>
#include <memory>

class QMenu;
class QSystemTrayIcon;

namespace dovrik {

enum class TrayMouse { kLeftUp, kLeftDoubleClick, kRightUp };

class TrayAdapter {
 public:
  virtual ~TrayAdapter() = default;
  // Puts the icon into the tray; false when it can't (no tray available).
  virtual bool add(const QIcon& icon, const QString& tip) = 0;
  virtual bool modify(const QIcon& icon, const QString& tip) = 0;
  virtual bool remove() = 0;
  // The mouse cursor's screen position, read when a mouse action is handled.
  virtual QPoint cursorPos() const = 0;
  // Offers the menu to a tray host that shows menus itself (a StatusNotifierItem host reads it
  // over D-Bus, and a right click never reaches the program there). Returns false where the
  // program pops the menu up itself on a right click. Not owned; nullptr withdraws it.
  virtual bool exportMenu(QMenu* menu) {
    (void)menu;
    return false;
  }
  // Set by the tray component; the adapter calls it on the GUI thread.
  std::function<void(TrayMouse)> OnMouse;
};

// The real tray. Lives and is used on the GUI thread only.
class QtTrayAdapter : public TrayAdapter {
 public:
  QtTrayAdapter();
  ~QtTrayAdapter() override;
  bool add(const QIcon& icon, const QString& tip) override;
  bool modify(const QIcon& icon, const QString& tip) override;
  bool remove() override;
  QPoint cursorPos() const override;
  bool exportMenu(QMenu* menu) override;
  // True when Qt shows this icon through a StatusNotifierItem host rather than the X11 tray.
  bool statusNotifierTray() const { return status_notifier_; }
  // For the desktop test and diagnostics.
  QSystemTrayIcon& icon() { return *icon_; }

 private:
  bool status_notifier_ = false;
  std::unique_ptr<QSystemTrayIcon> icon_;
};

}  // namespace dovrik
