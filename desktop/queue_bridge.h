// Drives the GUI thread's platform message queue from Qt: a QSocketNotifier on the queue's
// descriptor drains it whenever it has work, so socket notifications, posted calls and timers of
// the core keep arriving inside every Qt event loop, nested modal ones included. It also makes
// the socket layer's "process messages" routine QCoreApplication::processEvents. Create one on
// the GUI thread, after the QApplication.
#pragma once

#include <QObject>

class QSocketNotifier;

namespace dovrik {

class QueueBridge : public QObject {
  Q_OBJECT
 public:
  explicit QueueBridge(QObject* parent = nullptr);
  // Restores the default routine (pumping the platform queue).
  ~QueueBridge() override;

 private:
  QSocketNotifier* notifier_;  // child
};

}  // namespace dovrik
