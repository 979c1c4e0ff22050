// Asynchronous IPv4 host-name look-up on a helper thread; its end is posted to a window.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/message_queue.h"

namespace dovrik::platform {

using LookupTask = std::uint64_t;  // 0 = none

struct LookupResult {
  int error = 0;                     // 0 or a Windows Sockets number (11001...)
  std::vector<std::uint32_t> addrs;  // IPv4 addresses in network order
};

// Starts looking up name; when done, posts msg to window with wparam = task and lparam = error
// word << 16. Returns 0 with SetLastSocketError when it cannot start.
LookupTask StartHostLookup(const std::string& name, WindowHandle window, std::uint32_t msg);
// Takes the result of a finished task (once). False when unknown, cancelled or still running.
bool TakeLookupResult(LookupTask task, LookupResult& out);
// Cancels: no message for it is dispatched afterwards (one already queued is dropped) and the
// result is dropped. False if unknown (finished and taken, or cancelled already).
bool CancelHostLookup(LookupTask task);

// Blocking look-ups on the calling thread (IPv4): 0 or a Windows Sockets number (11004 when the
// name exists without an IPv4 address). Addresses in network order, without duplicates.
int ResolveHostBlocking(const std::string& name, std::vector<std::uint32_t>& addrs);

}  // namespace dovrik::platform
