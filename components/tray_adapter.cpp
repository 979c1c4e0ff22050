#include "components/tray_adapter.h"

#include <QCursor>
#include <QSystemTrayIcon>

namespace dovrik {

QtTrayAdapter::QtTrayAdapter() : icon_(std::make_unique<QSystemTrayIcon>()) {
  QObject::connect(icon_.get(), &QSystemTrayIcon::activated,
                   [this](QSystemTrayIcon::ActivationReason reason) {
                     if (!OnMouse) return;
                     switch (reason) {
                       case QSystemTrayIcon::Trigger:
                         OnMouse(TrayMouse::kLeftUp);
                         break;
                       case QSystemTrayIcon::DoubleClick:
                         OnMouse(TrayMouse::kLeftDoubleClick);
                         break;
                       case QSystemTrayIcon::Context:
                         OnMouse(TrayMouse::kRightUp);
                         break;
                       default:
                         break;
                     }
                   });
}

QtTrayAdapter::~QtTrayAdapter() = default;

bool QtTrayAdapter::Add(const QIcon& icon, const QString& tip) {
  // Without a tray the add fails, so the component tries again on its next refresh.
  if (!QSystemTrayIcon::isSystemTrayAvailable()) return false;
  icon_->setIcon(icon);
  icon_->setToolTip(tip);
  icon_->show();
  return true;
}

bool QtTrayAdapter::Modify(const QIcon& icon, const QString& tip) {
  if (!icon_->isVisible()) return false;
  icon_->setIcon(icon);
  icon_->setToolTip(tip);
  return true;
}

bool QtTrayAdapter::Remove() {
  const bool was = icon_->isVisible();
  icon_->hide();
  return was;
}

QPoint QtTrayAdapter::CursorPos() const {
  return QCursor::pos();
}

}  // namespace dovrik
