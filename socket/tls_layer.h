// TlsLayer: the client side of TLS as a StreamLayer, driving a TlsSession with the bytes that the
// socket's read notifications bring and queueing its records in the socket's send queue.
//
// Ownership and thread: as every StreamLayer (see stream_layer.h): owned by the socket, run on the
// socket's thread, kept after a close so its outcome (State, Peer, Failure) stays readable until
// the next Connect.
// Verification: the handshake never refuses the certificate (see tls_session.h); Peer() holds it
// once the layer is open, for the owner to judge.
#pragma once

#include <memory>
#include <string>

#include "socket/stream_layer.h"
#include "socket/tls_session.h"

namespace dovrik {

class TlsLayer final : public StreamLayer {
 public:
  // Throws ESocketException when no session can be made (an unreadable CA file, say).
  explicit TlsLayer(const TTlsParams& params);
  // A layer that failed before it began, with why.
  static std::unique_ptr<TlsLayer> FailedAtStart(std::string why);
  ~TlsLayer() override;

  void Open(StreamBelow& below) override;
  bool Pull(StreamBelow& below) override;
  bool Send(StreamBelow& below, const void* data, int len) override;
  bool Release(StreamBelow& below) override;
  int Receive(void* buffer, int size) override;
  std::size_t Waiting() const override { return plain_.size() - plain_pos_; }
  void Shutdown(StreamBelow& below) override;
  void Close() override {
    session_.reset();
    held_.clear();
  }
  Phase State() const override { return phase_; }
  bool Running() const override { return session_ != nullptr; }
  std::string Broken() const override { return "TLS session failed: " + failure_; }

  const TTlsPeer& Peer() const { return peer_; }
  const std::string& Failure() const { return failure_; }

 private:
  TlsLayer() = default;
  void QueueOutput(StreamBelow& below);
  bool Encrypt(StreamBelow& below, const char* data, int len);

  std::unique_ptr<TlsSession> session_;  // gone after Close
  Phase phase_ = Phase::kOpening;
  TTlsPeer peer_;
  std::string failure_;
  std::string plain_;  // decrypted, not yet received; from plain_pos_ on
  std::size_t plain_pos_ = 0;
  std::string held_;                // sent while opening; encrypted on Release
  std::unique_ptr<char[]> raw_in_;  // one raw chunk from below, reused for every read
};

}  // namespace dovrik
