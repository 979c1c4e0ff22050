#include "socket/wait_control.h"

#include <memory>
#include <mutex>

#include "platform/message_queue.h"

namespace dovrik {
namespace {

std::mutex g_routine_mutex;
std::shared_ptr<const TProcessMessages> g_routine;  // null: pump the platform queue

}  // namespace

void SetProcessMessages(TProcessMessages routine) {
  std::shared_ptr<const TProcessMessages> next;
  if (routine) next = std::make_shared<const TProcessMessages>(std::move(routine));
  std::lock_guard<std::mutex> lock(g_routine_mutex);
  g_routine = std::move(next);
}

void ProcessMessages() {
  std::shared_ptr<const TProcessMessages> routine;
  {
    std::lock_guard<std::mutex> lock(g_routine_mutex);
    routine = g_routine;
  }
  if (routine)
    (*routine)();
  else
    platform::PumpMessages();
}

}  // namespace dovrik
