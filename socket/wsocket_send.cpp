// The send chain: Send, BufferData, TryToSend, Flush and the send flags.
#include <cstring>

#include "platform/async_select.h"
#include "platform/message_param.h"
#include "platform/socket_errors.h"
#include "socket/wsocket.h"
#include "socket/wsocket_internal.h"

namespace dovrik {

int TCustomWSocket::Send(const void* data, int len) {
  if (FState != wsConnected) {
    platform::SetLastSocketError(platform::kWsaENotConn);
    SocketError("Send");
    return -1;
  }
  FAllSent = false;
  int result = 0;
  if (len > 0) {
    result = len;
    if (!layer_) {
      BufferData(data, len);
    } else if (!layer_->Send(*this, data, len)) {
      RaiseError("Send: " + layer_->Broken());
      return -1;
    }
  }
  TryToSend();
  if (FAllSent && FSocketHandle != INVALID_SOCKET) {
    // OnDataSent always comes from the message loop, never from inside Send.
    const auto lparam = platform::MakeNotifyParam(platform::kFdWrite, 0, FHandleSerial);
    platform::PostMessage(FWindowHandle, kSocketEventMessage,
                          static_cast<std::uintptr_t>(FSocketHandle), lparam);
  }
  return result;
}

int TCustomWSocket::SendStr(const std::string& str) {
  return Send(str.data(), static_cast<int>(str.size()));
}

void TCustomWSocket::BufferData(const void* data, int len) {
  if (len <= 0) return;
  if (FSendBufferList.empty()) FSendBufferList.push_back(std::make_unique<TBuffer>(FBufferSize));
  TBuffer* target = FSendBufferList.back().get();
  const auto* p = static_cast<const unsigned char*>(data);
  for (;;) {
    const int n = target->Write(p, len);
    if (n >= len) return;
    p += n;
    len -= n;
    FSendBufferList.push_back(std::make_unique<TBuffer>(FBufferSize));
    target = FSendBufferList.back().get();
  }
}

void TCustomWSocket::TryToSend() {
  if (FSocketHandle == INVALID_SOCKET) return;
  if (FSendBufferList.empty()) {
    FAllSent = true;
    return;
  }
  // On a stream socket with normal flags consecutive blocks are handed over together: the byte
  // stream is the same, at a fraction of the system calls. Datagrams (one per block) and
  // out-of-band sends (the urgent mark is per call) go one block per call.
  const bool gather = FSocketType != SOCK_DGRAM && FSendFlagsValue == 0;
  for (;;) {
    TBuffer* block = FSendBufferList.front().get();
    int len = 0;
    void* data = block->Peek(len);
    if (len <= 0) {
      if (FSendBufferList.size() == 1) {
        FAllSent = true;  // the block stays, empty, for reuse
        return;
      }
      FSendBufferList.pop_front();
      continue;
    }
    if (gather && FSendBufferList.size() > 1) {
      if (!FSendStaging)
        FSendStaging = std::make_unique_for_overwrite<unsigned char[]>(kSendGatherSize);
      len = 0;
      for (const auto& b : FSendBufferList) {
        int part = 0;
        const void* p = b->Peek(part);
        part = std::min(part, kSendGatherSize - len);
        if (part <= 0) {
          if (len >= kSendGatherSize) break;
          continue;
        }
        std::memcpy(FSendStaging.get() + len, p, static_cast<std::size_t>(part));
        len += part;
      }
      data = FSendStaging.get();
    }
    int n;
    if (FSocketType == SOCK_DGRAM)
      n = platform::SendTo(FSocketHandle, data, len, FSendFlagsValue,
                           reinterpret_cast<const sockaddr*>(&FSockAddr), sizeof FSockAddr);
    else
      n = platform::Send(FSocketHandle, data, len, FSendFlagsValue);
    if (n == 0) return;
    if (n < 0) {
      const int err = platform::LastSocketError();
      if (err == platform::kWsaEConnReset || err == platform::kWsaENotSock ||
          err == platform::kWsaENotConn || err == platform::kWsaEInval) {
        Close();
      } else if (err != platform::kWsaEWouldBlock) {
        SocketError("TryToSend failed");
      }
      return;  // would-block: a write notification follows when there is room
    }
    // Take the bytes out of the blocks they came from, freeing drained blocks but the last.
    while (n > 0) {
      n -= FSendBufferList.front()->Remove(n);
      int rest = 0;
      FSendBufferList.front()->Peek(rest);
      if (rest == 0 && FSendBufferList.size() > 1) FSendBufferList.pop_front();
    }
    // A short count means the platform's buffer is full. Linux arms the next write
    // notification only on would-block, so go on: the next call either sends (room was freed
    // meanwhile) or fails with would-block and so arms the notification.
  }
}

void TCustomWSocket::Flush() {
  if (FMultiThreaded) {
    // Bounded by FlushTimeout like the single-threaded wait, so a peer that takes nothing
    // can't hold the thread for ever.
    const std::uint64_t deadline = detail::DeadlineAfter(FFlushTimeout > 0 ? FFlushTimeout : 15);
    while (FSocketHandle != INVALID_SOCKET && !FAllSent) {
      TryToSend();
      PumpMessages();
      if (FSocketHandle == INVALID_SOCKET || FAllSent) break;
      const std::uint64_t now = platform::TickCountMs();
      if (now >= deadline) break;
      platform::WaitMessages(static_cast<int>(std::min<std::uint64_t>(deadline - now, 100)));
    }
    return;
  }
  if (!CheckWaitCtrl()) return;
  FWaitCtrl->SetCaption(std::to_string(FFlushTimeout));
  FWaitCtrl->SetVisible(true);
  FWaitCtrl->Start();
  struct StopOnExit {
    TCustomWSocket* self;
    ~StopOnExit() {
      if (self->FWaitCtrl != nullptr) {
        self->FWaitCtrl->Stop();
        self->FWaitCtrl->SetVisible(false);
      }
    }
  } stop_on_exit{this};
  while (FWaitCtrl != nullptr && FWaitCtrl->Running() && FSocketHandle != INVALID_SOCKET &&
         !FAllSent) {
    TryToSend();
    ProcessMessages();
  }
}

TSocketSendFlags TCustomWSocket::SendFlags() {
  switch (FSendFlagsValue) {
    case 0:
      return wsSendNormal;
    case 1:
      return wsSendUrgent;
    default:
      RaiseError("Invalid internal SendFlags");
      return wsSendNormal;
  }
}

void TCustomWSocket::SetSendFlags(TSocketSendFlags value) {
  switch (value) {
    case wsSendNormal:
      FSendFlagsValue = 0;
      break;
    case wsSendUrgent:
      FSendFlagsValue = MSG_OOB;
      break;
    default:
      RaiseError("Invalid SendFlags");
      break;
  }
}

}  // namespace dovrik
