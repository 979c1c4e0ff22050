// The thread class: created suspended, resumed once, a terminated flag, optional self-destruction
// when its run ends, and Synchronize (run a call on the main thread's queue and wait for it).
#pragma once

#include <atomic>
#include <functional>
#include <memory>

namespace dovrik::platform {

class Thread {
 public:
  explicit Thread(bool create_suspended);
  virtual ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  void Resume();
  void Terminate() { terminated_.store(true); }
  bool Terminated() const { return terminated_.load(); }
  // When set, the object deletes itself on its own thread once Execute has returned: it owns
  // itself from Resume on, and nobody else may delete it.
  void SetFreeOnTerminate(bool on) { free_on_terminate_ = on; }
  // Blocks until the run has ended (not for a FreeOnTerminate thread).
  void WaitFor();

 protected:
  virtual void Execute() = 0;
  // Runs call on the main thread (while it pumps its queue) and waits until it has run. Called
  // from the main thread itself it runs call at once.
  void Synchronize(const std::function<void()>& call);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::atomic<bool> terminated_{false};
  bool free_on_terminate_ = false;
};

}  // namespace dovrik::platform
