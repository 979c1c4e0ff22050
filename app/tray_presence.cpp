#include "app/tray_presence.h"

#include <QCloseEvent>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>

namespace dovrik {

TrayPresence::TrayPresence(QWidget& main_window, std::function<bool()> tray_available, int poll_ms)
    : window_(main_window),
      tray_available_(tray_available ? std::move(tray_available)
                                     : [] { return QSystemTrayIcon::isSystemTrayAvailable(); }),
      timer_(new QTimer(this)) {
  timer_->setInterval(poll_ms);
  timer_->setTimerType(Qt::VeryCoarseTimer);
  connect(timer_, &QTimer::timeout, this, &TrayPresence::poll);
  window_.installEventFilter(this);
}

TrayPresence::~TrayPresence() {
  window_.removeEventFilter(this);
}

void TrayPresence::start() {
  tray_ = tray_available_();
  if (tray_) return;
  window_.show();
  timer_->start();
}

void TrayPresence::poll() {
  if (!tray_available_()) return;
  tray_ = true;
  timer_->stop();
  if (on_tray_appeared) on_tray_appeared();
}

bool TrayPresence::polling() const {
  return timer_->isActive();
}

bool TrayPresence::eventFilter(QObject* watched, QEvent* event) {
  if (watched != &window_ || event->type() != QEvent::Close) return false;
  // Let the window decide first (it may be quitting). Without a tray, a refused close hid the
  // window, which is then brought back minimised, where the task bar still shows it.
  static_cast<QObject&>(window_).event(event);
  if (event->isAccepted()) {
    emit closed();
  } else if (!tray_) {
    window_.showMinimized();
  }
  return true;
}

}  // namespace dovrik
