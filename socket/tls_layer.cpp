// TlsLayer: handshake, encryption into the send queue, decryption into a plain-text buffer.
#include "socket/tls_layer.h"

#include <algorithm>
#include <cstring>

namespace dovrik {
namespace {

// Raw bytes taken from below per step: large enough for few calls, small enough that the plain
// text waiting for the owner stays small however fast the server sends.
constexpr int kRawChunk = 64 * 1024;
// Plain text encrypted per record batch, so a large send never holds its whole cipher text twice.
constexpr int kWriteChunk = 16 * 1024;

}  // namespace

TlsLayer::TlsLayer(const TTlsParams& params) : session_(std::make_unique<TlsSession>(params)) {}

TlsLayer::~TlsLayer() = default;

std::unique_ptr<TlsLayer> TlsLayer::FailedAtStart(std::string why) {
  std::unique_ptr<TlsLayer> layer(new TlsLayer());
  layer->phase_ = Phase::kFailed;
  layer->failure_ = std::move(why);
  return layer;
}

void TlsLayer::QueueOutput(StreamBelow& below) {
  const std::string_view out = session_->Output();
  if (out.empty()) return;
  below.QueueBelow(out.data(), static_cast<int>(out.size()));
  session_->ConsumeOutput();
}

void TlsLayer::Open(StreamBelow& below) {
  if (!raw_in_) raw_in_ = std::make_unique_for_overwrite<char[]>(kRawChunk);
  session_->Start();
  QueueOutput(below);
}

bool TlsLayer::Pull(StreamBelow& below) {
  if (!session_ || phase_ == Phase::kFailed) return false;
  const int n = below.ReadBelow(raw_in_.get(), kRawChunk);
  if (n > 0) session_->Feed(raw_in_.get(), static_cast<std::size_t>(n));
  if (plain_pos_ == plain_.size()) {
    plain_.clear();
    plain_pos_ = 0;
  }
  const TTlsStep step = session_->Advance(plain_);
  QueueOutput(below);  // the handshake's answers and alerts
  if (step == TTlsStep::kEstablished) {
    if (phase_ == Phase::kOpening) peer_ = session_->Peer();
    phase_ = Phase::kOpen;
  } else if (step == TTlsStep::kFailed) {
    phase_ = Phase::kFailed;
    failure_ = session_->Failure();
  } else if (n == 0 || n == StreamBelow::kBroken) {
    phase_ = Phase::kFailed;
    failure_ = "the server closed the connection during the handshake";
  }
  return n == kRawChunk;
}

bool TlsLayer::Encrypt(StreamBelow& below, const char* data, int len) {
  for (int done = 0; done < len;) {
    const int part = std::min(kWriteChunk, len - done);
    if (!session_->Write(data + done, static_cast<std::size_t>(part))) {
      phase_ = Phase::kFailed;
      failure_ = session_->Failure();
      return false;
    }
    QueueOutput(below);
    done += part;
  }
  return true;
}

bool TlsLayer::Send(StreamBelow& below, const void* data, int len) {
  if (phase_ == Phase::kOpening) {
    held_.append(static_cast<const char*>(data), static_cast<std::size_t>(len));
    return true;
  }
  if (phase_ != Phase::kOpen || !session_) return false;
  // The owner sends after the handshake: it has judged the peer, so what it held goes first.
  if (!held_.empty() && !Release(below)) return false;
  return Encrypt(below, static_cast<const char*>(data), len);
}

bool TlsLayer::Release(StreamBelow& below) {
  if (held_.empty()) return true;
  if (phase_ != Phase::kOpen || !session_) return false;
  std::string held;
  held.swap(held_);
  return Encrypt(below, held.data(), static_cast<int>(held.size()));
}

int TlsLayer::Receive(void* buffer, int size) {
  const std::size_t waiting = Waiting();
  if (waiting == 0 || size <= 0) return 0;
  const std::size_t n = std::min(waiting, static_cast<std::size_t>(size));
  std::memcpy(buffer, plain_.data() + plain_pos_, n);
  plain_pos_ += n;
  if (plain_pos_ == plain_.size()) {
    plain_.clear();
    plain_pos_ = 0;
  }
  return static_cast<int>(n);
}

void TlsLayer::Shutdown(StreamBelow& below) {
  if (!session_ || phase_ != Phase::kOpen) return;
  session_->Shutdown();
  const std::string_view out = session_->Output();
  if (!out.empty()) below.SendNowBelow(out.data(), static_cast<int>(out.size()));
  session_->ConsumeOutput();
}

}  // namespace dovrik
