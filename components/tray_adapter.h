// The notification area as the tray icon component sees it: add, modify and remove one icon with
// a tip, and the mouse actions that happen on it. QSystemTrayIcon in the program; tests give a
// recording double.
#pragma once

#include <QIcon>
#include <QPoint>
#include <QString>
#include <functional>
#include <memory>

class QSystemTrayIcon;

namespace dovrik {

enum class TrayMouse { kLeftUp, kLeftDoubleClick, kRightUp };

class TrayAdapter {
 public:
  virtual ~TrayAdapter() = default;
  // Puts the icon into the tray; false when it can't (no tray available).
  virtual bool Add(const QIcon& icon, const QString& tip) = 0;
  virtual bool Modify(const QIcon& icon, const QString& tip) = 0;
  virtual bool Remove() = 0;
  // The mouse cursor's screen position, read when a mouse action is handled.
  virtual QPoint CursorPos() const = 0;
  // Set by the tray component; the adapter calls it on the GUI thread.
  std::function<void(TrayMouse)> OnMouse;
};

// The real tray. Lives and is used on the GUI thread only.
class QtTrayAdapter : public TrayAdapter {
 public:
  QtTrayAdapter();
  ~QtTrayAdapter() override;
  bool Add(const QIcon& icon, const QString& tip) override;
  bool Modify(const QIcon& icon, const QString& tip) override;
  bool Remove() override;
  QPoint CursorPos() const override;
  // For the desktop test and diagnostics.
  QSystemTrayIcon& Icon() { return *icon_; }

 private:
  std::unique_ptr<QSystemTrayIcon> icon_;
};

}  // namespace dovrik
