#include "components/tray_adapter.h"

#include <QCursor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QMenu>
#include <QSystemTrayIcon>

namespace dovrik {

namespace {

// The test Qt makes once per process to pick its tray: a StatusNotifierWatcher on the session bus
// that reports a host. Then the icon is a StatusNotifierItem; otherwise it goes to the X11 tray.
bool StatusNotifierHostRegistered() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return false;
  const QString watcher = QStringLiteral("org.kde.StatusNotifierWatcher");
  QDBusMessage get = QDBusMessage::createMethodCall(
      watcher, QStringLiteral("/StatusNotifierWatcher"),
      QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
  get << watcher << QStringLiteral("IsStatusNotifierHostRegistered");
  const QDBusMessage reply = bus.call(get);
  return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
         qvariant_cast<QDBusVariant>(reply.arguments().first()).variant().toBool();
}

}  // namespace

QtTrayAdapter::QtTrayAdapter()
    : status_notifier_(StatusNotifierHostRegistered()), icon_(std::make_unique<QSystemTrayIcon>()) {
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

bool QtTrayAdapter::add(const QIcon& icon, const QString& tip) {
  // Without a tray the add fails, so the component tries again on its next refresh.
  if (!QSystemTrayIcon::isSystemTrayAvailable()) return false;
  icon_->setIcon(icon);
  icon_->setToolTip(tip);
  icon_->show();
  return true;
}

bool QtTrayAdapter::modify(const QIcon& icon, const QString& tip) {
  if (!icon_->isVisible()) return false;
  icon_->setIcon(icon);
  icon_->setToolTip(tip);
  return true;
}

bool QtTrayAdapter::remove() {
  const bool was = icon_->isVisible();
  icon_->hide();
  return was;
}

bool QtTrayAdapter::exportMenu(QMenu* menu) {
  // The X11 tray sends right clicks to the program, which pops the menu up itself; handing the
  // menu to Qt there would show it twice.
  if (!status_notifier_) return false;
  icon_->setContextMenu(menu);
  return true;
}

QPoint QtTrayAdapter::cursorPos() const {
  return QCursor::pos();
}

}  // namespace dovrik
