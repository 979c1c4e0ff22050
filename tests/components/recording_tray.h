// A tray adapter that records every call instead of talking to a notification area.
#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <vector>

#include "components/tray_adapter.h"

namespace dovrik::testing {

struct TrayCall {
  enum Kind { kAdd, kModify, kRemove } kind;
  qint64 icon = 0;  // cacheKey of the icon passed, 0 for none
  QString tip;
};

class RecordingTray : public TrayAdapter {
 public:
  bool add(const QIcon& icon, const QString& tip) override {
    calls.push_back({TrayCall::kAdd, icon.cacheKey(), tip});
    return available;
  }
  bool modify(const QIcon& icon, const QString& tip) override {
    calls.push_back({TrayCall::kModify, icon.cacheKey(), tip});
    return true;
  }
  bool remove() override {
    calls.push_back({TrayCall::kRemove, 0, {}});
    return true;
  }
  QPoint cursorPos() const override { return cursor; }
  bool exportMenu(QMenu* menu) override {
    exported.push_back(menu);
    return host_shows_menus;
  }
  void Mouse(TrayMouse what) { OnMouse(what); }

  std::vector<TrayCall> calls;
  bool available = true;
  QPoint cursor{120, 80};
  std::vector<QMenu*> exported;  // every menu offered to the host, nullptr for a withdrawal
  bool host_shows_menus = false;
};

inline QIcon SolidIcon(QColor color, int side = 16) {
  QPixmap pixmap(side, side);
  pixmap.fill(color);
  return QIcon(pixmap);
}

}  // namespace dovrik::testing
