// Readiness notifications for sockets, with the re-enabling rules of asynchronous select:
// - read is posted once and re-armed by the next Recv/RecvFrom (and posted again at once if bytes
//   are still waiting then);
// - write is posted once after a connection is established (or at registration of a connected or
//   datagram socket) and again only after a Send/SendTo failed with would-block;
// - accept is posted once and re-armed by Accept;
// - connect (outcome of a non-blocking connect, with its error) and close (peer's end, with its
//   error: 0 for an orderly close, 10054 for a reset) are posted once.
// Each notification is a message to the window: wparam = socket handle, lparam = event bits in
// the low 16 bits and the error word (a Windows Sockets number) in the high 16 bits.
// Nothing spins: an event that is not armed is not watched, and a socket that has hung up or
// failed is not watched at all once its notifications are out.
//
// Threads: register, use and close a socket on one thread; its notifications go to a window of
// that same thread, and the re-enabling calls (Recv, Send, Accept...) find the registration
// through the calling thread's queue.
//
// Descriptor reuse: CloseSocket (and AsyncSelect with mask 0) drops the registration together
// with its notifications still waiting in the queue. The kernel hands a closed descriptor number
// to the next socket at once, so a stale notification could otherwise reach a new socket that
// compares equal by handle. Messages the socket layer posts to itself with PostMessage are not
// affected; it must drop those by its own bookkeeping.
//
// Calling AsyncSelect again with a non-zero mask replaces window, message and mask and reports
// anew whatever already holds (bytes waiting, writable when connected, a connection waiting, the
// peer's close). An accepted socket starts unregistered.
#pragma once

#include <sys/socket.h>

#include <cstdint>

#include "platform/message_queue.h"

namespace dovrik::platform {

inline constexpr int kFdRead = 1;
inline constexpr int kFdWrite = 2;
inline constexpr int kFdOob = 4;
inline constexpr int kFdAccept = 8;
inline constexpr int kFdConnect = 16;
inline constexpr int kFdClose = 32;

using SocketHandle = int;
inline constexpr SocketHandle kInvalidSocket = -1;

// Registers (or re-registers with a new mask; mask 0 unregisters) the socket for notifications to
// window with message msg, on the calling thread's queue. Returns 0, or -1 with SetLastSocketError
// (10038 not a socket, 10022 window not on this thread).
int AsyncSelect(SocketHandle s, WindowHandle window, std::uint32_t msg, int mask);

// Socket calls that keep the re-enabling rules and translate errors. Each returns what the POSIX
// call returns, or -1 (kInvalidSocket for Accept) with the Windows Sockets error set through
// SetLastSocketError. Sockets are created non-blocking and close-on-exec; sending never raises
// SIGPIPE (a broken connection is an error value).
SocketHandle Socket(int family, int type, int protocol);
int Connect(SocketHandle s, const sockaddr* addr, socklen_t len);  // in progress: -1 and 10035
int Recv(SocketHandle s, void* buf, int len, int flags);
int RecvFrom(SocketHandle s, void* buf, int len, int flags, sockaddr* from, socklen_t* fromlen);
int Send(SocketHandle s, const void* buf, int len, int flags);
int SendTo(SocketHandle s, const void* buf, int len, int flags, const sockaddr* to,
           socklen_t tolen);
SocketHandle Accept(SocketHandle s, sockaddr* addr, socklen_t* len);
int Bind(SocketHandle s, const sockaddr* addr, socklen_t len);
int Listen(SocketHandle s, int backlog);
int Shutdown(SocketHandle s, int how);  // 0 receive, 1 send, 2 both
int CloseSocket(SocketHandle s);        // also drops its registration and queued notifications
int BytesAvailable(SocketHandle s);     // FIONREAD; -1 on error
int SetSockOpt(SocketHandle s, int level, int name, const void* value, socklen_t len);
int GetSockOpt(SocketHandle s, int level, int name, void* value, socklen_t* len);
int GetSockName(SocketHandle s, sockaddr* addr, socklen_t* len);
int GetPeerName(SocketHandle s, sockaddr* addr, socklen_t* len);

// Windows Sockets last-error word, per thread.
int LastSocketError();
void SetLastSocketError(int code);

}  // namespace dovrik::platform
