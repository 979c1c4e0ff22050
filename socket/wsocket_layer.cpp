// The layer over the handle: stacking it, driving it from the read notifications, and the
// socket's side of the StreamBelow it reads and queues through.
#include <algorithm>

#include "platform/async_select.h"
#include "platform/message_param.h"
#include "platform/socket_errors.h"
#include "socket/wsocket.h"
#include "socket/wsocket_internal.h"

namespace dovrik {

void TCustomWSocket::StackLayer(std::unique_ptr<StreamLayer> layer, bool reports_connect) {
  layer_ = std::move(layer);
  layer_reports_connect_ = reports_connect;
  if (layer_->State() != StreamLayer::Phase::kOpening) return;
  layer_->Open(*this);
  TryToSend();
}

void TCustomWSocket::PostSelf(int events) {
  const auto lparam =
      platform::MakeNotifyParam(static_cast<std::uint32_t>(events), 0, FHandleSerial);
  platform::PostMessage(FWindowHandle, kSocketEventMessage,
                        static_cast<std::uintptr_t>(FSocketHandle), lparam);
}

int TCustomWSocket::ReadBelow(void* buffer, int size) {
  const int n = platform::Recv(FSocketHandle, buffer, size, 0);
  if (n >= 0) {
    FReadCount = static_cast<int>(static_cast<unsigned>(FReadCount) + static_cast<unsigned>(n));
    return n;
  }
  if (platform::LastSocketError() == platform::kWsaEWouldBlock) return kNothingWaiting;
  FLastError = platform::LastSocketError();
  return kBroken;
}

void TCustomWSocket::QueueBelow(const void* data, int len) {
  FAllSent = false;
  BufferData(data, len);
}

void TCustomWSocket::SendNowBelow(const void* data, int len) {
  platform::Send(FSocketHandle, data, len, 0);
}

void TCustomWSocket::HandleLayerRead(Word error) {
  const std::shared_ptr<bool> alive = FAlive;
  const TSocket s = FSocketHandle;
  StreamLayer* const layer = layer_.get();
  auto current = [&] {
    return *alive && FSocketHandle == s && layer_.get() == layer && layer->Running();
  };
  if (!current()) return;
  try {
    for (;;) {
      FLastError = 0;
      const StreamLayer::Phase before = layer->State();
      const bool more = layer->Pull(*this);
      TryToSend();  // what the layer answered; a failed send closes the socket
      if (!current()) return;
      if (before == StreamLayer::Phase::kOpening && layer->State() != before) {
        LayerOpened();
        return;
      }
      if (layer->State() != StreamLayer::Phase::kOpen) return;
      const std::size_t waiting = layer->Waiting();
      if (waiting > 0) {
        if (!DoDataAvailable(error)) return;  // the decoded bytes stay for Receive
        if (!current()) return;
        if (layer->Waiting() == waiting) return;  // the handler took nothing
      } else if (!more) {
        return;
      }
      if (FLastError != 0) return;
      if (layer->Waiting() == 0 && !more) return;
    }
  } catch (const std::exception& e) {
    if (*alive) FReadLoopError = e.what();
  }
}

void TCustomWSocket::LayerOpened() {
  // Bytes sent while the layer opened stay held: the owner judges the peer first (AcceptTlsPeer
  // or its next Send lets them go; a close drops them).
  const bool open = layer_->State() == StreamLayer::Phase::kOpen;
  // Bytes decoded with the end of the opening wait for the next dispatch, so the owner has seen
  // the end before its first data notification.
  if (layer_->Waiting() > 0) PostSelf(platform::kFdRead);
  const Word word = open ? 0 : kTlsFailedError;
  if (layer_reports_connect_) {
    layer_reports_connect_ = false;
    DoSessionConnected(word);
  } else if (OnTlsDone) {
    OnTlsDone(this, word);
  }
}

void TCustomWSocket::ReleaseHeld() {
  if (!layer_ || !layer_->Running() || layer_->State() != StreamLayer::Phase::kOpen) return;
  if (!layer_->Release(*this)) {
    RaiseError("Send: " + layer_->Broken());
    return;
  }
  TryToSend();
}

int TCustomWSocket::ReceiveFromLayer(void* buffer, int size) {
  const int n = layer_->Receive(buffer, size);
  if (n > 0) return n;
  FLastError = platform::kWsaEWouldBlock;
  platform::SetLastSocketError(platform::kWsaEWouldBlock);
  return -1;
}

void TCustomWSocket::ShutdownLayer() {
  // Best effort, straight to the handle: the connection is going anyway, and a failure here must
  // not start another close.
  if (layer_ && layer_->Running() && FAllSent) layer_->Shutdown(*this);
}

}  // namespace dovrik
