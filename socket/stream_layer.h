// StreamLayer: one stage between the socket's handle and its owner that transforms the byte
// stream both ways (today only TLS). The socket stacks one over its handle when encryption is on
// (at connect, or on an open connection); with none, the socket reads and writes the handle
// itself. A layer never touches the handle: it reads and writes through the StreamBelow the socket
// hands it on each call.
//
// Ownership: the socket owns its layer (std::unique_ptr). A layer stays in place after the
// connection closes, so its outcome stays readable; the next Connect drops it.
// Thread: a layer runs only on the socket's thread, inside the socket's notifications and calls.
// Close: the socket calls Shutdown (best effort, only while nothing else is queued) and then
// Close, which ends the session; decrypted bytes not yet received stay for Receive.
// Re-entrancy: a layer never calls back into the socket's events; it only queues bytes below.
// The socket pushes the queue to the handle once the layer's call has returned, so a close that
// this causes never happens under a layer's own call.
#pragma once

#include <cstddef>
#include <string>

namespace dovrik {

// What a layer sees of the connection under it.
class StreamBelow {
 public:
  static constexpr int kNothingWaiting = -1;
  static constexpr int kBroken = -2;

  // Up to size raw bytes from the handle: their count, 0 when the peer has closed, or
  // kNothingWaiting / kBroken (the socket's LastError tells which error).
  virtual int ReadBelow(void* buffer, int size) = 0;
  // Appends bytes to the send queue, after everything queued before.
  virtual void QueueBelow(const void* data, int len) = 0;
  // Hands bytes straight to the handle, best effort: for the last ones before a close.
  virtual void SendNowBelow(const void* data, int len) = 0;

 protected:
  ~StreamBelow() = default;
};

class StreamLayer {
 public:
  enum class Phase { kOpening, kOpen, kFailed };

  virtual ~StreamLayer() = default;

  // Starts the layer's opening exchange (its first bytes are queued below).
  virtual void Open(StreamBelow& below) = 0;
  // Takes one chunk of what waits below and advances; returns true when more may wait below.
  virtual bool Pull(StreamBelow& below) = 0;
  // Transforms the owner's bytes into the send queue. While opening they are held; once open, a
  // Send lets what was held go first. False when the layer can't (then Broken() says why).
  virtual bool Send(StreamBelow& below, const void* data, int len) = 0;
  // Queues what Send held while the layer was opening; only once open. False as Send. Close drops
  // what is still held.
  virtual bool Release(StreamBelow& below) = 0;
  // Up to size bytes of what the layer has decoded; 0 when none waits.
  virtual int Receive(void* buffer, int size) = 0;
  virtual std::size_t Waiting() const = 0;
  // The closing message, straight to the handle.
  virtual void Shutdown(StreamBelow& below) = 0;
  // Ends the session; Phase, Waiting and Receive stay as they were.
  virtual void Close() = 0;

  virtual Phase State() const = 0;
  // False once closed.
  virtual bool Running() const = 0;
  // Why Send can't go on, as the socket's error text puts it after "Send: ".
  virtual std::string Broken() const = 0;
};

}  // namespace dovrik
