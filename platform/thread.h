// The thread class: created suspended, resumed once, a terminated flag, optional self-destruction
// when its run ends, and Synchronize (run a call on the main thread's queue and wait for it).
//
// Shutdown rule. A worker blocked in Synchronize waits for the main thread to pump its queue.
// The main thread must therefore do one of these before it stops pumping for good:
//  - wait for its workers with WaitFor (on the main thread WaitFor runs their Synchronize calls
//    while it waits, so it cannot deadlock against them), or
//  - call StopSynchronize(): every Synchronize call still waiting is released without running
//    (it returns false), and later ones return false at once, until SetMainThread is called
//    again. A worker released this way must not rely on the main thread any more.
// An owner that goes away while its workers run (and keeps pumping for others) must make the
// calls it synchronizes check that the owner still exists; they run on the main thread, as the
// owner's destruction does, so a plain flag owned jointly (shared_ptr) is enough.
#pragma once

#include <atomic>
#include <exception>
#include <functional>
#include <memory>

namespace dovrik::platform {

class Thread {
 public:
  // The run starts with the first Resume(): a base class cannot start a virtual Execute before the
  // derived object is complete. create_suspended = false is kept for readability of call sites
  // and means the same; call Resume() right after construction.
  explicit Thread(bool create_suspended);
  // For a thread that is not FreeOnTerminate: sets Terminated and joins the run. A derived class
  // whose Execute uses its own members must end the run (Terminate + WaitFor) in its own
  // destructor, because its members are gone by the time this one runs.
  virtual ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  void Resume();  // starts the run; later calls do nothing
  void Terminate() { terminated_.store(true); }
  bool Terminated() const { return terminated_.load(); }
  // When set, the object deletes itself on its own thread once Execute has returned: it owns
  // itself from Resume on, and nobody else may delete it (or WaitFor it). The destructors, the
  // derived one included, run on the worker thread. Set it before Resume.
  void SetFreeOnTerminate(bool on) { free_on_terminate_ = on; }
  // Blocks until the run has ended (not for a FreeOnTerminate thread). On the main thread it
  // runs pending Synchronize calls meanwhile.
  void WaitFor();
  bool Finished() const;
  // An exception that escaped Execute (the run ends there), or null.
  std::exception_ptr FatalException() const;

 protected:
  virtual void Execute() = 0;
  // Runs call on the main thread (while it pumps its queue) and waits until it has run. Called
  // from the main thread itself it runs call at once. An exception thrown by call is thrown
  // again here. Returns false, without running call, when no main thread is set or
  // StopSynchronize released the wait (see the shutdown rule above).
  bool Synchronize(const std::function<void()>& call);

 private:
  void Run();

  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::atomic<bool> terminated_{false};
  bool free_on_terminate_ = false;
};

// The same as Thread::Synchronize, for code that is not a Thread.
bool RunOnMainThread(const std::function<void()>& call);

// Main thread: runs the Synchronize calls waiting now (PumpMessages does this as well).
void RunPendingSynchronize();

// Main thread, at shutdown: releases every waiting Synchronize call without running it and makes
// later calls return false at once. SetMainThread re-opens.
void StopSynchronize();

}  // namespace dovrik::platform
