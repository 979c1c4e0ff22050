// Receiving: Receive, ReceiveFrom, RcvdCount, the read loop, lines and WaitForClose.
#include <sys/socket.h>

#include <algorithm>
#include <climits>

#include "platform/async_select.h"
#include "platform/socket_errors.h"
#include "socket/wsocket.h"
#include "socket/wsocket_internal.h"

namespace dovrik {
namespace {

int AddCount(int count, int n) {
  return static_cast<int>(static_cast<unsigned>(count) + static_cast<unsigned>(n));
}

}  // namespace

int TCustomWSocket::Receive(void* buffer, int buffer_size) {
  if (layer_) return ReceiveFromLayer(buffer, buffer_size);
  const int n = platform::Recv(FSocketHandle, buffer, buffer_size, 0);
  if (n < 0)
    FLastError = platform::LastSocketError();
  else
    FReadCount = AddCount(FReadCount, n);
  return n;
}

int TCustomWSocket::ReceiveFrom(void* buffer, int buffer_size, sockaddr_in& from, int& from_len) {
  socklen_t len = from_len > 0 ? static_cast<socklen_t>(from_len) : 0;
  const int n = platform::RecvFrom(FSocketHandle, buffer, buffer_size, 0,
                                   reinterpret_cast<sockaddr*>(&from), &len);
  if (n < 0) {
    FLastError = platform::LastSocketError();
  } else {
    FReadCount = AddCount(FReadCount, n);
    from_len = static_cast<int>(len);
  }
  return n;
}

int TCustomWSocket::RcvdCount() {
  if (layer_) return static_cast<int>(std::min<std::size_t>(layer_->Waiting(), INT_MAX));
  const int n = platform::BytesAvailable(FSocketHandle);
  if (n < 0) {
    SocketError("ioctlSocket");
    return -1;
  }
  return n;
}

void TCustomWSocket::HandleRead(Word error) {
  if (layer_) {
    HandleLayerRead(error);
    return;
  }
  const std::shared_ptr<bool> alive = FAlive;
  try {
    for (;;) {
      FLastError = 0;
      if (FReadLineMode) {
        ReadLineChars();
      } else if (!DoDataAvailable(error)) {
        return;  // no handler: the bytes stay in the platform's queue
      }
      if (!*alive) return;  // a handler freed the socket
      if (FLastError != 0) return;
      const int waiting = platform::BytesAvailable(FSocketHandle);
      if (waiting < 0) {
        FLastError = platform::LastSocketError();
        return;
      }
      if (waiting == 0) return;
    }
  } catch (const std::exception& e) {
    // The read loop ends here and the notification goes on; the text stays for inspection.
    if (*alive) FReadLoopError = e.what();
  }
}

void TCustomWSocket::StartLine() {
  if (FReadLineMode) return;
  FLineBuffer.clear();
  FLineLength = 0;
  FReadLineMode = true;
}

void TCustomWSocket::ReadLineChars() {
  for (;;) {
    if (FSocketHandle == INVALID_SOCKET) {
      FReadLineMode = false;
      StopWaitCtrl();
      return;
    }
    int got = -2;  // nothing attempted
    unsigned char ch = 0;
    if (FState == wsConnected) {
      const int waiting = platform::BytesAvailable(FSocketHandle);
      if (waiting < 0) {
        FReadLineMode = false;
        SocketError("ioctlSocket");
        return;
      }
      if (waiting > 0) got = platform::Recv(FSocketHandle, &ch, 1, 0);
    }
    if (got == 1) {
      FReadCount = AddCount(FReadCount, 1);
      if (ch != '\n' && ch != '\r') {
        FLineBuffer.push_back(static_cast<char>(ch));
        FLineLength = static_cast<int>(FLineBuffer.size());
      }
      bool line_end = ch == '\n';
      if (FLineLength >= 254) {
        line_end = true;
        if (OnLineTooLong) {
          const std::shared_ptr<bool> alive = FAlive;
          OnLineTooLong(this);
          if (!*alive) return;
        }
      }
      if (line_end) {
        FReadLineMode = false;
        StopWaitCtrl();
        return;
      }
      continue;
    }
    if (got == -1) {
      const int err = platform::LastSocketError();
      if (err == platform::kWsaEWouldBlock) continue;
      if (err != platform::kWsaEConnReset) {
        SocketError("ReadLine");
        return;
      }
      got = 0;  // a reset ends the line like an orderly close
    }
    if (got == 0) {
      FReadLineMode = false;
      StopWaitCtrl();
      Close();
      return;
    }
    return;  // not connected, or no byte waiting
  }
}

void TCustomWSocket::ReadLine(int timeout, std::string& buffer) {
  if (layer_) {
    RaiseError("ReadLine: not available on a TLS connection");
    return;
  }
  if (!FMultiThreaded && !CheckWaitCtrl()) return;
  StartLine();
  ReadLineChars();
  if (FReadLineMode) {
    if (FMultiThreaded) {
      detail::PumpUntil(detail::DeadlineAfter(timeout), [&] { return !FReadLineMode; });
    } else if (FWaitCtrl != nullptr) {
      FWaitCtrl->SetCaption(std::to_string(timeout));
      FWaitCtrl->SetVisible(true);
      FWaitCtrl->Run();
      if (FWaitCtrl != nullptr) FWaitCtrl->SetVisible(false);
    }
  }
  buffer = FLineBuffer;
}

void TCustomWSocket::WaitForClose() {
  if (layer_) {
    RaiseError("WaitForClose: not available on a TLS connection");
    return;
  }
  while (FSocketHandle != INVALID_SOCKET && FState != wsClosed) {
    ProcessMessages();
    if (FSocketHandle == INVALID_SOCKET) break;
    const int waiting = platform::BytesAvailable(FSocketHandle);
    if (waiting < 0) break;
    if (waiting > 0) {
      if (FReadLineMode)
        ReadLineChars();
      else if (!DoDataAvailable(0))
        break;  // nobody takes the bytes: the peek below would find them for ever
    }
    if (FSocketHandle == INVALID_SOCKET) break;
    // A zero-length receive tells nothing on this platform; peeking one byte does: 0 means
    // the peer has closed and everything it sent has been read.
    unsigned char probe = 0;
    const int n = platform::Recv(FSocketHandle, &probe, 1, MSG_PEEK);
    if (n == 0) {
      Close();
      break;
    }
    if (n < 0) {
      FLastError = platform::LastSocketError();
      if (FLastError != platform::kWsaEWouldBlock) break;
    }
    ProcessMessages();
  }
}

}  // namespace dovrik
