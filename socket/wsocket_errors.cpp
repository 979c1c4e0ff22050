// Error reports: RaiseError, RaiseErrorFmt, SocketError and CheckWaitCtrl.
#include "platform/async_select.h"
#include "platform/socket_errors.h"
#include "socket/wsocket.h"

namespace dovrik {

void TCustomWSocket::RaiseError(const std::string& msg) {
  if (OnError) {
    FErrorMessage = msg;
    DoError();
    return;
  }
  throw ESocketException(msg);
}

void TCustomWSocket::RaiseErrorFmt(const std::string& fmt, const std::vector<TFormatArg>& args) {
  if (OnError) {
    FErrorMessage = Format(fmt, args);
    DoError();
    return;
  }
  throw ESocketException(Format(fmt, args));
}

void TCustomWSocket::SocketError(const std::string& func_text) {
  const int code = platform::LastSocketError();
  const std::string message = "Error " + std::to_string(code) + " in function " + func_text +
                              "\r\n" + SocketErrorText(code);
  if (code == platform::kWsaEConnReset || code == platform::kWsaENotConn) {
    if (FSocketHandle != INVALID_SOCKET) platform::CloseSocket(FSocketHandle);
    FSocketHandle = INVALID_SOCKET;
    ChangeState(wsClosed);
  }
  RaiseError(message);
}

bool TCustomWSocket::CheckWaitCtrl() {
  if (FWaitCtrl == nullptr) {
    RaiseError("No wait object assigned");
    return false;
  }
  return true;
}

}  // namespace dovrik
