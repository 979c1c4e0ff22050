// What the engine and its sessions share. A session reaches the engine only through the link:
// it hands over its result, asks the owner's questions on the main thread, and reads the current
// time-out. The engine detaches itself when it is destroyed while sessions still run; from then
// on the link answers for it.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "engine/engine_types.h"
#include "engine/security.h"
#include "engine/session.h"

namespace dovrik {

class tCheckThread;

// The engine's side, as seen by the link.
class SessionHost {
 public:
  // With the link's lock held.
  virtual void StoreResult(tQrAction anAction, SessionResult& aResult) = 0;
  virtual void ForgetSessionLocked(const tCheckThread* aSession) = 0;
  // On the main thread, without the lock.
  virtual void SessionDone(tCheckThread* aSession, tQrAction anAction) = 0;
  virtual void AskPassword(std::string& aPass) = 0;
  virtual void AskTrust(const tQrCertificate& aCertificate, tQrTrust& anAnswer) = 0;

 protected:
  ~SessionHost() = default;
};

class tSessionLink {
 public:
  explicit tSessionLink(SessionHost* aHost) : host_(aHost) {}

  // Guards the engine's shared fields and the host pointer.
  std::mutex& Lock() { return lock_; }
  // The engine, at its destruction, with the lock held.
  void DetachLocked() { host_ = nullptr; }
  bool Attached() const;

  // Read afresh at every test of a wait, so that lowering it ends a running wait: one atomic
  // shared with the engine rather than a copy in the request. It keeps its last value once the
  // engine is gone (its sessions are stopped then anyway).
  int TimeOut() const { return time_out_.load(std::memory_order_relaxed); }
  void SetTimeOut(int aValue) { time_out_.store(aValue, std::memory_order_relaxed); }

  // The session's end: stores its result, then reports the end on the main thread and waits for
  // it. A session the main thread no longer serves takes itself out of the engine's list.
  void Finish(tCheckThread* aSession, tQrAction anAction, SessionResult& aResult);
  // OnGetPass on the main thread; false when nobody answered with a password that is not blank.
  bool AskPassword(std::string& aPass);
  // OnTrustCertificate on the main thread; trNo when nobody answers.
  tQrTrust AskTrust(const tQrCertificate& aCertificate);

 private:
  SessionHost* HostNow();

  mutable std::mutex lock_;
  SessionHost* host_;
  std::atomic<int> time_out_{0};
};

}  // namespace dovrik
