#include "desktop/queue_bridge.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include "platform/message_queue.h"
#include "socket/wait_control.h"

namespace dovrik {

QueueBridge::QueueBridge(QObject* parent)
    : QObject(parent),
      notifier_(new QSocketNotifier(platform::QueueDescriptor(), QSocketNotifier::Read, this)) {
  connect(notifier_, &QSocketNotifier::activated, this, [] { platform::PumpMessages(); });
  SetProcessMessages([] { QCoreApplication::processEvents(); });
}

QueueBridge::~QueueBridge() {
  SetProcessMessages(nullptr);
}

}  // namespace dovrik
