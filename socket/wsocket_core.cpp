// Construction, the notification window, the state machine, connecting, closing and waiting.
#include <arpa/inet.h>

#include <algorithm>
#include <mutex>

#include "platform/clock.h"
#include "platform/message_param.h"
#include "platform/socket_errors.h"
#include "socket/wsocket.h"
#include "socket/wsocket_internal.h"

namespace dovrik {
namespace {

constexpr int kMaskConnect = platform::kFdRead | platform::kFdWrite | platform::kFdAccept |
                             platform::kFdConnect | platform::kFdClose;  // 59
constexpr int kMaskResume =
    platform::kFdRead | platform::kFdWrite | platform::kFdConnect | platform::kFdClose;  // 51

std::mutex g_unit_mutex;
int g_socket_count = 0;
bool g_winsock_started = false;

}  // namespace

// ---------------------------------------------------------------- unit routines

void StartWinsock(const std::string& library_name) {
  std::lock_guard<std::mutex> lock(g_unit_mutex);
  if (g_winsock_started) return;
  // The POSIX socket interface needs no start-up; the flag keeps the documented life cycle.
  (void)library_name;
  g_winsock_started = true;
}

int SocketCount() {
  std::lock_guard<std::mutex> lock(g_unit_mutex);
  return g_socket_count;
}

bool WinsockStarted() {
  std::lock_guard<std::mutex> lock(g_unit_mutex);
  return g_winsock_started;
}

// ---------------------------------------------------------------- life cycle

TCustomWSocket::TCustomWSocket(TComponent* AOwner) : TComponent(AOwner) {
  FWindowHandle = platform::AllocateHWnd([this](const platform::Message& m) {
    if (m.msg == kSocketEventMessage)
      HandleSocketEvent(m.wparam, m.lparam);
    else if (m.msg == kLookupDoneMessage)
      HandleLookupDone(m.wparam, m.lparam);
  });
  FBufferSize = kSocketBufferSize;
  SetDefaults();
  {
    std::lock_guard<std::mutex> lock(g_unit_mutex);
    ++g_socket_count;
  }
  if (!Designing()) {
    try {
      StartWinsock("wsock32.dll");
    } catch (const ESocketException&) {
      std::lock_guard<std::mutex> lock(g_unit_mutex);
      --g_socket_count;
      platform::DeallocateHWnd(FWindowHandle);
      throw;
    }
  }
}

TCustomWSocket::~TCustomWSocket() {
  if (FDnsTask != 0) {
    // A destructor can't report a failed cancel; the task is forgotten either way.
    bool cancelled = platform::CancelHostLookup(FDnsTask);
    FDnsTask = 0;
    if (cancelled && !Destroying()) DoDnsLookupDone(platform::kWsaEIntr);
  }
  if (FState != wsClosed) {
    try {
      Close();
    } catch (const ESocketException&) {
      // The handle is forgotten by the failed close; nothing is left to report it to.
      FLastError = platform::LastSocketError();
    }
  }
  if (FSocketHandle != INVALID_SOCKET) {
    // A handle left open in a state that close ignores (for example after a failed option).
    platform::CloseSocket(FSocketHandle);
    FSocketHandle = INVALID_SOCKET;
  }
  {
    std::lock_guard<std::mutex> lock(g_unit_mutex);
    --g_socket_count;
    if (!Designing() && g_winsock_started && g_socket_count <= 0) {
      g_winsock_started = false;
      g_socket_count = 0;
    }
  }
  FSendBufferList.clear();
  platform::DeallocateHWnd(FWindowHandle);
  *FAlive = false;
}

void TCustomWSocket::SetDefaults() {
  FSockAddr = sockaddr_in{};
  FSockAddr.sin_family = AF_INET;
  FAddrFamily = AF_INET;
  FPortAssigned = false;
  FAddrAssigned = false;
  FProtoAssigned = true;
  FProtoNum = IPPROTO_TCP;
  FProtoStr = "tcp";
  FSocketType = SOCK_STREAM;
  FSocketHandle = INVALID_SOCKET;
  FState = wsClosed;
  FWaitingFor = wsInvalidState;
  FAllSent = true;
  FReadLineMode = false;
  FLineLength = 0;
  FPaused = false;
  FReadCount = 0;
  FCloseInvoked = false;
  FFlushTimeout = 60;
}

void TCustomWSocket::Notification(TComponent* AComponent, TOperation operation) {
  TComponent::Notification(AComponent, operation);
  if (operation == opRemove && AComponent != nullptr &&
      AComponent == static_cast<TComponent*>(FWaitCtrl))
    FWaitCtrl = nullptr;
}

void TCustomWSocket::SetWaitCtrl(TWaitControl* value) {
  if (value == FWaitCtrl) return;
  if (FWaitCtrl != nullptr) RemoveFreeNotification(FWaitCtrl);
  FWaitCtrl = value;
  if (FWaitCtrl != nullptr) FreeNotification(FWaitCtrl);
}

void TCustomWSocket::OpenedHandle() {
  if (++FHandleSerial == 0) FHandleSerial = 1;
}

// ---------------------------------------------------------------- notifications

void TCustomWSocket::HandleSocketEvent(std::uintptr_t wparam, std::intptr_t lparam) {
  const TSocket s = static_cast<TSocket>(wparam);
  if (s != FSocketHandle || FPaused) return;
  // Notifications we post to ourselves carry the serial of the handle they were meant for, so
  // one left in the queue is dropped when the descriptor number has been reused since.
  const std::uint16_t serial = platform::NotifySerial(lparam);
  if (serial != 0 && serial != FHandleSerial) return;
  const int events = platform::NotifyEvents(lparam);
  const Word error = platform::NotifyError(lparam);
  // A handler may free the socket, close it or open another handle; then the rest of this
  // notification is stale.
  const std::shared_ptr<bool> alive = FAlive;
  auto current = [&] { return *alive && FSocketHandle == s && !FPaused; };

  if (events & platform::kFdConnect) {
    // The TLS layer goes on before anyone hears of the connection, so that what a handler sends
    // on hearing it goes out encrypted, never in clear.
    const bool tls = error == 0 && tls_at_connect_ && FSocketType == SOCK_STREAM;
    const bool tls_failed = tls && !StackTlsAtConnect();
    ChangeState(wsConnected);
    if (!*alive) return;
    if (!tls)
      DoSessionConnected(error);
    else if (tls_failed)
      DoSessionConnected(kTlsFailedError);
    // Otherwise OnSessionConnected waits for the handshake's end.
    if (!*alive) return;
    if (error != 0 && FState != wsClosed && FSocketHandle == s) Close();
    if (!current()) return;
  }
  if (events & platform::kFdRead) {
    HandleRead(error);
    if (!current()) return;
  }
  if (events & platform::kFdWrite) {
    TryToSend();
    if (!current()) return;
    if (FAllSent && OnDataSent) DoDataSent(error);
    if (!current()) return;
  }
  if (events & platform::kFdAccept) {
    DoSessionAvailable(error);
    if (!current()) return;
  }
  if ((events & platform::kFdClose) && FState != wsConnecting) {
    HandleRead(error);
    if (!*alive) return;
    // A data handler that closed the socket on the end of the stream has run the close, and
    // OnSessionClosed with it; the rest of this notification belongs to no connection now.
    if (FSocketHandle != s) return;
    if (FReadLineMode) {
      FReadLineMode = false;
      StopWaitCtrl();
    }
    if (OnSessionClosed && !FCloseInvoked) {
      FCloseInvoked = true;
      DoSessionClosed(error);
      if (!*alive) return;
    }
    if (FState != wsClosed && FSocketHandle == s) Close();
  }
}

void TCustomWSocket::ChangeState(TSocketState new_state) {
  const TSocketState old = FState;
  FState = new_state;
  const std::shared_ptr<bool> alive = FAlive;
  DoChangeState(old, new_state);
  if (!*alive) return;
  if (!FMultiThreaded && FWaitCtrl != nullptr &&
      (new_state == FWaitingFor || (FWaitingFor == wsConnected && new_state == wsClosed)))
    FWaitCtrl->Stop();
}

void TCustomWSocket::StopWaitCtrl() {
  if (!FMultiThreaded && FWaitCtrl != nullptr) FWaitCtrl->Stop();
}

// ---------------------------------------------------------------- events

bool TCustomWSocket::DoDataAvailable(Word error) {
  if (!OnDataAvailable) return false;
  OnDataAvailable(this, error);
  return true;
}

void TCustomWSocket::DoSessionAvailable(Word error) {
  if (OnSessionAvailable) OnSessionAvailable(this, error);
}

void TCustomWSocket::DoSessionConnected(Word error) {
  if (OnSessionConnected) OnSessionConnected(this, error);
}

void TCustomWSocket::DoSessionClosed(Word error) {
  if (OnSessionClosed) OnSessionClosed(this, error);
}

void TCustomWSocket::DoDataSent(Word error) {
  if (OnDataSent) OnDataSent(this, error);
}

void TCustomWSocket::DoChangeState(TSocketState old_state, TSocketState new_state) {
  if (OnChangeState) OnChangeState(this, old_state, new_state);
}

void TCustomWSocket::DoDnsLookupDone(Word error) {
  if (OnDnsLookupDone) OnDnsLookupDone(this, error);
}

void TCustomWSocket::DoError() {
  if (OnError) OnError(this);
}

// ---------------------------------------------------------------- connecting

void TCustomWSocket::BindLocal() {
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  local.sin_port = 0;
  if (platform::Bind(FSocketHandle, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    RaiseErrorFmt("winsock.bind failed, error #%d", {platform::LastSocketError()});
    return;
  }
  socklen_t len = sizeof local;
  if (platform::GetSockName(FSocketHandle, reinterpret_cast<sockaddr*>(&local), &len) != 0) {
    RaiseErrorFmt("winsock.getsockname failed, error #%d", {platform::LastSocketError()});
    return;
  }
  FLocalPortNum = ntohs(local.sin_port);
}

void TCustomWSocket::Connect() {
  if (FSocketHandle != INVALID_SOCKET && FState != wsClosed) {
    RaiseError("Connect: Socket already in use");
    return;
  }
  if (!FPortAssigned) {
    RaiseError("Connect: No Port Specified");
    return;
  }
  if (!FAddrAssigned) {
    RaiseError("Connect: No IP Address Specified");
    return;
  }
  if (!FProtoAssigned) {
    RaiseError("Connect: No Protocol Specified");
    return;
  }
  layer_.reset();  // the last connection's outcome was readable until now
  tls_ = nullptr;
  layer_reports_connect_ = false;
  FSocketHandle = platform::Socket(FAddrFamily, FSocketType, FProtoNum);
  if (FSocketHandle == INVALID_SOCKET) {
    SocketError("Connect (socket)");
    return;
  }
  OpenedHandle();
  ChangeState(wsOpened);

  if (FSocketType == SOCK_DGRAM) {
    BindLocal();
    if (FSockAddr.sin_addr.s_addr == INADDR_BROADCAST) {
      const int on = 1;
      if (platform::SetSockOpt(FSocketHandle, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
        SocketError("setsockopt(SO_BROADCAST)");
        return;
      }
    }
  } else {
    // Linger on with 0 seconds: a close drops unsent data and resets the connection at once.
    const linger lingering{1, 0};
    if (platform::SetSockOpt(FSocketHandle, SOL_SOCKET, SO_LINGER, &lingering, sizeof lingering) !=
        0) {
      SocketError("setsockopt(SO_LINGER)");
      return;
    }
    const int on = -1;
    if (platform::SetSockOpt(FSocketHandle, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0) {
      SocketError("setsockopt(SO_KEEPALIVE)");
      return;
    }
    if (platform::SetSockOpt(FSocketHandle, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
      SocketError("setsockopt(SO_REUSEADDR)");
      return;
    }
  }

  if (platform::AsyncSelect(FSocketHandle, FWindowHandle, kSocketEventMessage, kMaskConnect) != 0) {
    SocketError("WSAAsyncSelect");
    return;
  }

  if (FSocketType == SOCK_DGRAM) {
    ChangeState(wsConnected);
    DoSessionConnected(0);
    return;
  }

  if (platform::Connect(FSocketHandle, reinterpret_cast<const sockaddr*>(&FSockAddr),
                        sizeof FSockAddr) == 0 ||
      platform::LastSocketError() == platform::kWsaEWouldBlock) {
    ChangeState(wsConnecting);
  } else {
    FLastError = platform::LastSocketError();
    SocketError("Connect");
  }
}

// ---------------------------------------------------------------- closing

void TCustomWSocket::Close() {
  CloseSocket(true);
}

void TCustomWSocket::Abort() {
  CloseSocket(false);
}

void TCustomWSocket::Shutdown(int how) {
  if (FSocketHandle != INVALID_SOCKET) platform::Shutdown(FSocketHandle, how);
}

void TCustomWSocket::CloseSocket(bool do_shutdown) {
  if (FSocketHandle == INVALID_SOCKET) {
    if (layer_) layer_->Close();
    if (FState != wsClosed) {
      ChangeState(wsClosed);
      SetDefaults();
    }
    return;
  }
  if (FState == wsClosed) return;
  if (do_shutdown) {
    ShutdownLayer();
    Shutdown(2);
  }
  if (layer_) layer_->Close();
  for (;;) {
    if (platform::CloseSocket(FSocketHandle) == 0) {
      FSocketHandle = INVALID_SOCKET;
      break;
    }
    FLastError = platform::LastSocketError();
    if (FLastError != platform::kWsaEWouldBlock) {
      FSocketHandle = INVALID_SOCKET;
      SocketError("Disconnect (closesocket)");
      return;
    }
    if (FMultiThreaded)
      PumpMessages();
    else
      ProcessMessages();
  }
  const std::shared_ptr<bool> alive = FAlive;
  ChangeState(wsClosed);
  if (!*alive) return;
  if (!Destroying() && !FCloseInvoked && OnSessionClosed) {
    FCloseInvoked = true;
    DoSessionClosed(0);
    if (!*alive) return;
  }
  SetDefaults();
}

// ---------------------------------------------------------------- pausing

void TCustomWSocket::Pause() {
  FPaused = true;
  if (FSocketHandle != INVALID_SOCKET) platform::AsyncSelect(FSocketHandle, FWindowHandle, 0, 0);
}

void TCustomWSocket::Resume() {
  FPaused = false;
  if (FSocketHandle != INVALID_SOCKET)
    platform::AsyncSelect(FSocketHandle, FWindowHandle, kSocketEventMessage, kMaskResume);
}

// ---------------------------------------------------------------- waiting

void TCustomWSocket::PumpMessages() {
  platform::PumpMessages();
}

bool TCustomWSocket::Wait(int timeout, TSocketState desired_state) {
  if (FState == desired_state) return true;
  FWaitingFor = desired_state;
  if (FMultiThreaded) {
    detail::PumpUntil(detail::DeadlineAfter(timeout), [&] { return FState == desired_state; });
  } else if (FWaitCtrl != nullptr) {
    FWaitCtrl->SetCaption(std::to_string(timeout));
    FWaitCtrl->SetVisible(true);
    FWaitCtrl->Run();
    if (FWaitCtrl != nullptr) FWaitCtrl->SetVisible(false);
  } else {
    platform::SetLastSocketError(platform::kWsaNoData);
    SocketError("TWSocket.Wait");
    return false;
  }
  const bool reached = FState == desired_state;
  FWaitingFor = wsInvalidState;
  return reached;
}

// ---------------------------------------------------------------- time values

bool TCustomWSocket::TimeValIsSet(const TTimeVal& t) {
  return t.tv_sec != 0 || t.tv_usec != 0;
}

void TCustomWSocket::TimeValClear(TTimeVal& t) {
  t.tv_sec = t.tv_usec = 0;
}

bool TCustomWSocket::TimeValCompare(const TTimeVal& a, const TTimeVal& b, bool equal) {
  const bool same = a.tv_sec == b.tv_sec && a.tv_usec == b.tv_usec;
  return equal ? same : !same;
}

}  // namespace dovrik
