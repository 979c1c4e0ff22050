// TLS over the socket: the TLS layer stacked at connect or on the open connection, and its
// read-outs.
#include <openssl/crypto.h>

#include "socket/wsocket.h"

namespace dovrik {
namespace {

const TTlsPeer kNoPeer{};
const std::string kNoFailure;

}  // namespace

void TCustomWSocket::StartTls(const TTlsParams& params) {
  if (FSocketHandle == INVALID_SOCKET || FState != wsConnected) {
    RaiseError("StartTls: Socket not connected");
    return;
  }
  if (layer_) {
    RaiseError("StartTls: TLS already started");
    return;
  }
  auto layer = std::make_unique<TlsLayer>(params);
  tls_ = layer.get();
  StackLayer(std::move(layer), false);
}

bool TCustomWSocket::StackTlsAtConnect() {
  std::unique_ptr<TlsLayer> layer;
  try {
    layer = std::make_unique<TlsLayer>(*tls_at_connect_);
  } catch (const ESocketException& e) {
    // No session could be made (an unreadable CA file, say): the connection is of no use.
    layer = TlsLayer::FailedAtStart(e.Message());
  }
  tls_ = layer.get();
  const bool failed = layer->State() == StreamLayer::Phase::kFailed;
  StackLayer(std::move(layer), !failed);
  return !failed;
}

TTlsState TCustomWSocket::TlsState() const {
  if (!tls_) return tlsOff;
  switch (tls_->State()) {
    case StreamLayer::Phase::kOpening:
      return tlsHandshaking;
    case StreamLayer::Phase::kOpen:
      return tlsEstablished;
    case StreamLayer::Phase::kFailed:
      break;
  }
  return tlsFailed;
}

const TTlsPeer& TCustomWSocket::TlsPeer() const {
  return tls_ ? tls_->Peer() : kNoPeer;
}

const std::string& TCustomWSocket::TlsFailure() const {
  return tls_ ? tls_->Failure() : kNoFailure;
}

void ReleaseTlsThreadState() {
  OPENSSL_thread_stop();
}

}  // namespace dovrik
