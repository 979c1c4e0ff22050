// The server side: Listen, Accept and Dup.
#include "platform/async_select.h"
#include "platform/socket_errors.h"
#include "socket/wsocket.h"

namespace dovrik {
namespace {

constexpr int kMaskListen =
    platform::kFdRead | platform::kFdWrite | platform::kFdAccept | platform::kFdClose;  // 43
constexpr int kMaskDup =
    platform::kFdRead | platform::kFdWrite | platform::kFdConnect | platform::kFdClose;  // 51

}  // namespace

int TCustomWSocket::Listen() {
  if (!FPortAssigned) {
    platform::SetLastSocketError(platform::kWsaEInval);
    SocketError("listen: port not assigned");
    return -1;
  }
  if (!FProtoAssigned) {
    platform::SetLastSocketError(platform::kWsaEInval);
    SocketError("listen: protocol not assigned");
    return -1;
  }
  if (!FAddrAssigned) {
    platform::SetLastSocketError(platform::kWsaEInval);
    SocketError("listen: address not assigned");
    return -1;
  }
  FSocketHandle = platform::Socket(FAddrFamily, FSocketType, FProtoNum);
  if (FSocketHandle == INVALID_SOCKET) {
    SocketError("socket");
    return -1;
  }
  OpenedHandle();
  if (platform::Bind(FSocketHandle, reinterpret_cast<const sockaddr*>(&FSockAddr),
                     sizeof FSockAddr) != 0) {
    const int err = platform::LastSocketError();
    // The state is still closed, so a Close would leave the handle open: release it here.
    platform::CloseSocket(FSocketHandle);
    FSocketHandle = INVALID_SOCKET;
    platform::SetLastSocketError(err);
    SocketError("Bind");
    Close();
    return -1;
  }
  ChangeState(wsBound);
  if (FSocketType == SOCK_DGRAM) {
    ChangeState(wsListening);
    ChangeState(wsConnected);
    DoSessionConnected(0);
  } else {
    if (platform::Listen(FSocketHandle, 5) != 0) {
      SocketError("Listen");
      return -1;
    }
    ChangeState(wsListening);
  }
  if (platform::AsyncSelect(FSocketHandle, FWindowHandle, kSocketEventMessage, kMaskListen) != 0) {
    SocketError("WSAASyncSelect");
    return -1;
  }
  return 0;
}

TSocket TCustomWSocket::Accept() {
  if (FState != wsListening) {
    platform::SetLastSocketError(platform::kWsaEInval);
    SocketError("not a listening socket");
    return INVALID_SOCKET;
  }
  socklen_t len = sizeof FSockAddr;
  FAcceptedHandle = platform::Accept(FSocketHandle, reinterpret_cast<sockaddr*>(&FSockAddr), &len);
  if (FAcceptedHandle == INVALID_SOCKET) {
    SocketError("Accept");
    return INVALID_SOCKET;
  }
  return FAcceptedHandle;
}

void TCustomWSocket::Dup(TSocket new_handle) {
  if (new_handle == 0 || new_handle == INVALID_SOCKET) {
    platform::SetLastSocketError(platform::kWsaEInval);
    SocketError("Dup");
    return;
  }
  if (FState != wsClosed) {
    const TSocket old = FSocketHandle;
    FSocketHandle = INVALID_SOCKET;
    if (old != INVALID_SOCKET && platform::CloseSocket(old) != 0) {
      SocketError("Dup (closesocket)");
      return;
    }
    ChangeState(wsClosed);
  }
  FSocketHandle = new_handle;
  OpenedHandle();
  if (platform::AsyncSelect(FSocketHandle, FWindowHandle, kSocketEventMessage, kMaskDup) != 0) {
    SocketError("WSAAsyncSelect");
    return;
  }
  ChangeState(wsConnected);
}

}  // namespace dovrik
