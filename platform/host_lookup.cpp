#include "platform/host_lookup.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "platform/async_select.h"
#include "platform/message_param.h"
#include "platform/socket_errors.h"

namespace dovrik::platform {
namespace {

struct Task {
  std::shared_ptr<std::atomic<bool>> valid = std::make_shared<std::atomic<bool>>(true);
  bool done = false;
  LookupResult result;
};

// Look-ups in flight or finished and not yet taken. Never destroyed: a helper thread may finish
// while the process runs its static destructors.
struct Tasks {
  std::mutex mutex;
  std::unordered_map<LookupTask, Task> map;
  LookupTask next = 1;
};

Tasks& AllTasks() {
  static Tasks* t = new Tasks;
  return *t;
}

void RunLookup(LookupTask id, std::string name, WindowHandle window, std::uint32_t msg) {
  LookupResult result;
  result.error = ResolveHostBlocking(name, result.addrs);
  const int error = result.error;
  std::shared_ptr<const std::atomic<bool>> valid;
  Tasks& t = AllTasks();
  {
    std::lock_guard lock(t.mutex);
    auto it = t.map.find(id);
    if (it == t.map.end()) return;  // cancelled while it ran
    it->second.done = true;
    it->second.result = std::move(result);
    valid = it->second.valid;
  }
  const std::intptr_t lparam = MakeNotifyParam(0, static_cast<std::uint32_t>(error));
  // A cancel after this point still wins: the message is dropped at dispatch when valid is
  // false. A dead window simply refuses the message.
  if (!PostMessageWhile(window, msg, static_cast<std::uintptr_t>(id), lparam, valid)) {
    std::lock_guard lock(t.mutex);
    t.map.erase(id);  // nobody can ask for it any more
  }
}

}  // namespace

int ResolveHostBlocking(const std::string& name, std::vector<std::uint32_t>& addrs) {
  addrs.clear();
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;  // one entry per address
  addrinfo* list = nullptr;
  int rc = getaddrinfo(name.c_str(), nullptr, &hints, &list);
  if (rc != 0) return WsaErrorFromResolver(rc);
  for (addrinfo* a = list; a; a = a->ai_next) {
    if (a->ai_family != AF_INET || !a->ai_addr) continue;
    std::uint32_t addr = reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr.s_addr;
    if (std::find(addrs.begin(), addrs.end(), addr) == addrs.end()) addrs.push_back(addr);
  }
  freeaddrinfo(list);
  return addrs.empty() ? kWsaNoData : 0;
}

LookupTask StartHostLookup(const std::string& name, WindowHandle window, std::uint32_t msg) {
  Tasks& t = AllTasks();
  LookupTask id;
  {
    std::lock_guard lock(t.mutex);
    id = t.next++;
    t.map.emplace(id, Task{});
  }
  try {
    // Detached: a look-up may block for long in the resolver, and nothing may wait for it at
    // exit. It touches only the never-destroyed task table and the window registry.
    std::thread(RunLookup, id, name, window, msg).detach();
  } catch (const std::system_error& e) {
    std::lock_guard lock(t.mutex);
    t.map.erase(id);
    SetLastSocketError(WsaErrorFromErrno(e.code().value()));
    return 0;
  }
  return id;
}

bool TakeLookupResult(LookupTask task, LookupResult& out) {
  Tasks& t = AllTasks();
  std::lock_guard lock(t.mutex);
  auto it = t.map.find(task);
  if (it == t.map.end() || !it->second.done) return false;
  out = std::move(it->second.result);
  t.map.erase(it);
  return true;
}

bool CancelHostLookup(LookupTask task) {
  Tasks& t = AllTasks();
  std::lock_guard lock(t.mutex);
  auto it = t.map.find(task);
  if (it == t.map.end()) return false;
  it->second.valid->store(false, std::memory_order_release);
  t.map.erase(it);
  return true;
}

}  // namespace dovrik::platform
