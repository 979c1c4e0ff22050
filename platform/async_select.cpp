#include "platform/async_select.h"

#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "platform/message_param.h"
#include "platform/socket_errors.h"
#include "platform/thread_queue.h"

namespace dovrik::platform {
namespace {

using detail::Entry;
using detail::Queue;

thread_local int t_last_error = 0;

int Fail(int err) {
  SetLastSocketError(WsaErrorFromErrno(err));
  return -1;
}

int SoError(int fd) {
  int err = 0;
  socklen_t len = sizeof err;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) < 0) return errno;
  return err;
}

int Pending(int fd) {
  int n = 0;
  return ioctl(fd, FIONREAD, &n) < 0 ? 0 : n;
}

enum class Phase {
  kIdle,        // stream socket neither connected nor connecting: nothing to watch
  kConnecting,  // waiting for the outcome of connect
  kConnected,
  kListening,
  kDatagram,
  kFailed,  // connect failed: nothing more will come
};

// One socket registered with AsyncSelect on the calling thread. The "armed" flags say which
// notification may be posted next; posting one disarms it until its re-enabling call. The epoll
// registration is one-shot and re-armed with exactly the events that are armed, so a socket in
// a hang-up or error state is not watched at all unless something is armed for it.
class SocketSource final : public detail::Source {
 public:
  SocketSource(Queue& q, int fd) : q_(q), fd_(fd) { q_.AddSource(this); }
  ~SocketSource() override {
    if (in_epoll_) q_.Control(EPOLL_CTL_DEL, fd_, id, 0);
    q_.RemoveSource(id);
  }

  void Register(WindowHandle window, std::uint32_t msg, int mask, Phase phase) {
    window_ = window;
    msg_ = msg;
    mask_ = mask;
    phase_ = phase;
    // A new registration reports again whatever already holds (data waiting, writable...).
    read_armed_ = write_armed_ = accept_armed_ = oob_armed_ = true;
    close_sent_ = peer_closed_ = hung_up_ = false;
    Rearm();
  }

  void ConnectStarted() {
    if (phase_ == Phase::kDatagram) return;
    phase_ = Phase::kConnecting;
    read_armed_ = write_armed_ = oob_armed_ = true;
    close_sent_ = peer_closed_ = hung_up_ = reset_seen_ = false;
    Rearm();
  }

  void Listening() {
    phase_ = Phase::kListening;
    accept_armed_ = true;
    hung_up_ = false;
    Rearm();
  }

  void ArmRead() { Arm(read_armed_); }
  void ArmOob() { Arm(oob_armed_); }
  void ArmWrite() { Arm(write_armed_); }
  void ArmAccept() { Arm(accept_armed_); }
  void SawReset() { reset_seen_ = true; }

  void OnReady(Queue&, std::uint32_t ev) override {
    enabled_ = false;  // one-shot: epoll has disabled the descriptor
    const std::size_t posted_before = posted_;
    if (phase_ == Phase::kConnecting && (ev & (EPOLLOUT | EPOLLERR | EPOLLHUP))) {
      int err = SoError(fd_);
      if (err == 0) {
        phase_ = Phase::kConnected;
        if (mask_ & kFdConnect) Post(kFdConnect, 0);
        // The write notification that follows a connect: ev carries EPOLLOUT already.
      } else {
        phase_ = Phase::kFailed;
        if (mask_ & kFdConnect) Post(kFdConnect, WsaErrorFromErrno(err));
      }
    }
    switch (phase_) {
      case Phase::kConnected: {
        const int pending = (ev & EPOLLIN) ? Pending(fd_) : 0;
        // Readable with nothing to read is the end of the stream (EPOLLRDHUP may be missing when
        // only read was asked for).
        if ((ev & EPOLLIN) && pending == 0) ev |= EPOLLRDHUP;
        if ((ev & EPOLLOUT) && write_armed_ && (mask_ & kFdWrite) && !hung_up_) {
          write_armed_ = false;
          Post(kFdWrite, 0);
        }
        if ((ev & EPOLLPRI) && oob_armed_ && (mask_ & kFdOob)) {
          oob_armed_ = false;
          Post(kFdOob, 0);
        }
        // Data that arrived before the peer's close is announced first.
        if (pending > 0 && read_armed_ && (mask_ & kFdRead)) {
          read_armed_ = false;
          Post(kFdRead, 0);
        }
        if (ev & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) {
          peer_closed_ = true;
          if (ev & (EPOLLHUP | EPOLLERR)) hung_up_ = true;
          if (!close_sent_ && (mask_ & kFdClose)) {
            close_sent_ = true;
            int err = (ev & EPOLLERR) ? SoError(fd_) : 0;
            if (reset_seen_) err = ECONNRESET;
            Post(kFdClose, WsaErrorFromErrno(err));
          }
        }
        break;
      }
      case Phase::kListening:
        if ((ev & EPOLLIN) && accept_armed_ && (mask_ & kFdAccept)) {
          accept_armed_ = false;
          Post(kFdAccept, 0);
        }
        break;
      case Phase::kDatagram:
        if ((ev & EPOLLOUT) && write_armed_ && (mask_ & kFdWrite)) {
          write_armed_ = false;
          Post(kFdWrite, 0);
        }
        // A pending error (an ICMP refusal on a connected datagram socket) is handed to the next
        // receive, which reports and clears it.
        if ((ev & (EPOLLIN | EPOLLERR)) && read_armed_ && (mask_ & kFdRead)) {
          read_armed_ = false;
          Post(kFdRead, 0);
        }
        break;
      default:
        break;
    }
    if (posted_ == posted_before && (ev & (EPOLLERR | EPOLLHUP)) && phase_ != Phase::kConnected) {
      // An error or hang-up nobody was notified of: clear the error, and stop watching a hung-up
      // descriptor, or epoll would report it again at once.
      SoError(fd_);
      if (ev & EPOLLHUP) hung_up_ = true;
    }
    Rearm();
  }

  bool Dispatch(Queue& q, const Entry& e) override {
    return q.DispatchToWindow(e.window, e.message);
  }

 private:
  void Arm(bool& flag) {
    if (flag) return;
    flag = true;
    Rearm();
  }

  void Post(int bits, int error) {
    Entry e;
    e.source = id;
    e.window = window_;
    e.message.msg = msg_;
    e.message.wparam = static_cast<std::uintptr_t>(fd_);
    e.message.lparam =
        MakeNotifyParam(static_cast<std::uint32_t>(bits), static_cast<std::uint32_t>(error));
    q_.PushLocal(std::move(e));
    ++posted_;
  }

  std::uint32_t Wanted() const {
    std::uint32_t ev = 0;
    switch (phase_) {
      case Phase::kConnecting:
        ev = EPOLLOUT;  // completion of connect, whatever the mask, to learn the new phase
        break;
      case Phase::kListening:
        if (accept_armed_ && (mask_ & kFdAccept) && !hung_up_) ev |= EPOLLIN;
        break;
      case Phase::kDatagram:
        if (hung_up_) break;
        if (read_armed_ && (mask_ & kFdRead)) ev |= EPOLLIN;
        if (write_armed_ && (mask_ & kFdWrite)) ev |= EPOLLOUT;
        break;
      case Phase::kConnected: {
        bool want_read = read_armed_ && (mask_ & kFdRead);
        // After the peer's end only bytes still waiting can make a read notification; the
        // end of stream itself must not keep the descriptor ready.
        if (want_read && peer_closed_ && Pending(fd_) == 0) want_read = false;
        if (want_read) ev |= EPOLLIN | EPOLLRDHUP;
        if (hung_up_) break;
        if (oob_armed_ && (mask_ & kFdOob)) ev |= EPOLLPRI;
        if (write_armed_ && (mask_ & kFdWrite)) ev |= EPOLLOUT;
        if (!close_sent_ && (mask_ & kFdClose)) ev |= EPOLLRDHUP;
        break;
      }
      default:
        break;
    }
    return ev;
  }

  void Rearm() {
    std::uint32_t want = Wanted();
    if (want == 0) {
      if (in_epoll_) q_.Control(EPOLL_CTL_DEL, fd_, id, 0);
      in_epoll_ = enabled_ = false;
      return;
    }
    if (in_epoll_ && enabled_ && want == current_) return;
    int rc = q_.Control(in_epoll_ ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, fd_, id, want | EPOLLONESHOT);
    if (rc == 0) {
      in_epoll_ = enabled_ = true;
      current_ = want;
    }
  }

  Queue& q_;
  int fd_;
  WindowHandle window_ = 0;
  std::uint32_t msg_ = 0;
  int mask_ = 0;
  Phase phase_ = Phase::kIdle;
  bool read_armed_ = true;
  bool write_armed_ = true;
  bool accept_armed_ = true;
  bool oob_armed_ = true;
  bool close_sent_ = false;
  bool peer_closed_ = false;
  bool hung_up_ = false;
  bool reset_seen_ = false;
  std::size_t posted_ = 0;
  bool in_epoll_ = false;
  bool enabled_ = false;
  std::uint32_t current_ = 0;
};

SocketSource* Find(SocketHandle s) {
  Queue* q = Queue::Current();
  if (!q) return nullptr;
  auto it = q->sockets.find(s);
  return it == q->sockets.end() ? nullptr : static_cast<SocketSource*>(it->second.get());
}

Phase Probe(int fd, int type) {
  if (type == SOCK_DGRAM) return Phase::kDatagram;
  int listening = 0;
  socklen_t len = sizeof listening;
  if (getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &len) == 0 && listening)
    return Phase::kListening;
  tcp_info info{};
  len = sizeof info;
  if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &len) == 0) {
    switch (info.tcpi_state) {
      case TCP_SYN_SENT:
      case TCP_SYN_RECV:
        return Phase::kConnecting;
      case TCP_CLOSE:
        return Phase::kIdle;
      case TCP_LISTEN:
        return Phase::kListening;
      default:
        return Phase::kConnected;
    }
  }
  sockaddr_storage peer{};
  len = sizeof peer;
  return getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &len) == 0 ? Phase::kConnected
                                                                        : Phase::kIdle;
}

}  // namespace

int LastSocketError() {
  return t_last_error;
}
void SetLastSocketError(int code) {
  t_last_error = code;
}

int AsyncSelect(SocketHandle s, WindowHandle window, std::uint32_t msg, int mask) {
  int type = 0;
  socklen_t len = sizeof type;
  if (getsockopt(s, SOL_SOCKET, SO_TYPE, &type, &len) < 0) {
    SetLastSocketError(errno == EBADF || errno == ENOTSOCK ? kWsaENotSock
                                                           : WsaErrorFromErrno(errno));
    return -1;
  }
  Queue* q = Queue::Current();
  if (!q) {
    SetLastSocketError(kWsaNotInitialised);
    return -1;
  }
  if (mask == 0) {
    q->sockets.erase(s);
    return 0;
  }
  if (!q->OwnsWindow(window)) {  // notifications go to a window of this thread only
    SetLastSocketError(kWsaEInval);
    return -1;
  }
  auto& slot = q->sockets[s];
  if (!slot) slot = std::make_unique<SocketSource>(*q, s);
  static_cast<SocketSource*>(slot.get())->Register(window, msg, mask, Probe(s, type));
  return 0;
}

SocketHandle Socket(int family, int type, int protocol) {
  int fd = ::socket(family, type | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
  if (fd < 0) {
    Fail(errno);
    return kInvalidSocket;
  }
  return fd;
}

int Connect(SocketHandle s, const sockaddr* addr, socklen_t len) {
  int rc = ::connect(s, addr, len);
  int err = rc < 0 ? errno : 0;
  if (rc == 0 || err == EINPROGRESS) {
    if (SocketSource* r = Find(s)) r->ConnectStarted();
  }
  return rc < 0 ? Fail(err) : 0;
}

int Recv(SocketHandle s, void* buf, int len, int flags) {
  if (len < 0) return Fail(EINVAL);
  ssize_t n = ::recv(s, buf, static_cast<size_t>(len), flags);
  int err = n < 0 ? errno : 0;
  if (SocketSource* r = Find(s)) {
    if (err == ECONNRESET) r->SawReset();
    (flags & MSG_OOB) ? r->ArmOob() : r->ArmRead();
  }
  return n < 0 ? Fail(err) : static_cast<int>(n);
}

int RecvFrom(SocketHandle s, void* buf, int len, int flags, sockaddr* from, socklen_t* fromlen) {
  if (len < 0) return Fail(EINVAL);
  ssize_t n = ::recvfrom(s, buf, static_cast<size_t>(len), flags, from, fromlen);
  int err = n < 0 ? errno : 0;
  if (SocketSource* r = Find(s)) {
    if (err == ECONNRESET) r->SawReset();
    (flags & MSG_OOB) ? r->ArmOob() : r->ArmRead();
  }
  return n < 0 ? Fail(err) : static_cast<int>(n);
}

int Send(SocketHandle s, const void* buf, int len, int flags) {
  if (len < 0) return Fail(EINVAL);
  ssize_t n = ::send(s, buf, static_cast<size_t>(len), flags | MSG_NOSIGNAL);
  if (n >= 0) return static_cast<int>(n);
  int err = errno;
  if (err == EAGAIN || err == EWOULDBLOCK) {
    if (SocketSource* r = Find(s)) r->ArmWrite();
  } else if (err == ECONNRESET) {
    if (SocketSource* r = Find(s)) r->SawReset();
  }
  return Fail(err);
}

int SendTo(SocketHandle s, const void* buf, int len, int flags, const sockaddr* to,
           socklen_t tolen) {
  if (len < 0) return Fail(EINVAL);
  ssize_t n = ::sendto(s, buf, static_cast<size_t>(len), flags | MSG_NOSIGNAL, to, tolen);
  if (n >= 0) return static_cast<int>(n);
  int err = errno;
  if (err == EAGAIN || err == EWOULDBLOCK) {
    if (SocketSource* r = Find(s)) r->ArmWrite();
  }
  return Fail(err);
}

SocketHandle Accept(SocketHandle s, sockaddr* addr, socklen_t* len) {
  int fd = ::accept4(s, addr, len, SOCK_NONBLOCK | SOCK_CLOEXEC);
  int err = fd < 0 ? errno : 0;
  if (SocketSource* r = Find(s)) r->ArmAccept();
  if (fd < 0) {
    Fail(err);
    return kInvalidSocket;
  }
  return fd;
}

int Bind(SocketHandle s, const sockaddr* addr, socklen_t len) {
  return ::bind(s, addr, len) < 0 ? Fail(errno) : 0;
}

int Listen(SocketHandle s, int backlog) {
  if (::listen(s, backlog) < 0) return Fail(errno);
  if (SocketSource* r = Find(s)) r->Listening();
  return 0;
}

int Shutdown(SocketHandle s, int how) {
  int mode = how == 0 ? SHUT_RD : how == 1 ? SHUT_WR : SHUT_RDWR;
  if (how < 0 || how > 2) return Fail(EINVAL);
  return ::shutdown(s, mode) < 0 ? Fail(errno) : 0;
}

int CloseSocket(SocketHandle s) {
  // Dropping the registration also drops its notifications still waiting in the queue: the
  // kernel reuses descriptor numbers at once, and a stale notification must not reach a new
  // socket that happens to get the same number.
  if (Queue* q = Queue::Current()) q->sockets.erase(s);
  if (::close(s) < 0 && errno != EINTR) return Fail(errno);  // Linux frees the fd on EINTR too
  return 0;
}

int BytesAvailable(SocketHandle s) {
  int n = 0;
  if (ioctl(s, FIONREAD, &n) < 0) return Fail(errno);
  return n;
}

int SetSockOpt(SocketHandle s, int level, int name, const void* value, socklen_t len) {
  return ::setsockopt(s, level, name, value, len) < 0 ? Fail(errno) : 0;
}

int GetSockOpt(SocketHandle s, int level, int name, void* value, socklen_t* len) {
  return ::getsockopt(s, level, name, value, len) < 0 ? Fail(errno) : 0;
}

int GetSockName(SocketHandle s, sockaddr* addr, socklen_t* len) {
  return ::getsockname(s, addr, len) < 0 ? Fail(errno) : 0;
}

int GetPeerName(SocketHandle s, sockaddr* addr, socklen_t* len) {
  return ::getpeername(s, addr, len) < 0 ? Fail(errno) : 0;
}

}  // namespace dovrik::platform
