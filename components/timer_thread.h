// TTimerThread: the thread that steps a tray icon's animation.
//
// The worker only waits and counts: it never calls Qt or the tray. Each completed wait of
// Interval ms is signalled through an eventfd that a QSocketNotifier watches on the GUI thread,
// where the frame step runs; the thread's end is signalled the same way. The object itself lives
// on the GUI thread as a child of its tray, so it never outlives the tray it reports to.
#pragma once

#include <QObject>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

class QSocketNotifier;

namespace dovrik {

class TRxTray;

// A fixed surface: it keeps its given names.
// NOLINTBEGIN(readability-identifier-naming)
class TTimerThread : public QObject {
  Q_OBJECT
 public:
  TTimerThread(TRxTray* owner_tray, unsigned interval_ms, bool create_suspended);
  // Asks the worker to end and joins it (it wakes at once); no notification reaches the tray.
  ~TTimerThread() override;

  TRxTray* OwnerTray() const { return owner_; }
  void Resume();
  void Suspend();
  // Asks the worker to end; it wakes at once. Once its end is seen on the GUI thread the tray is
  // told (AnimationEnded) and the object deletes itself.
  void Terminate();
  void SetInterval(unsigned ms);

  bool Suspended() const;
  bool Terminated() const;
  // The worker sits in its suspended wait: no frame step can be signalled until Resume.
  bool Parked() const;
  // Blocks until the worker is parked or has ended; false when not within timeout_ms.
  bool WaitParked(int timeout_ms) const;

 private:
  void Execute();
  void Signal();
  void OnReadable();

  TRxTray* owner_;
  mutable std::mutex mutex_;
  mutable std::condition_variable cv_;
  unsigned interval_ms_;
  bool suspended_;
  bool terminated_ = false;
  bool parked_ = false;
  bool ended_ = false;
  bool end_reported_ = false;
  int event_fd_ = -1;
  QSocketNotifier* notifier_ = nullptr;  // child
  std::thread worker_;
};
// NOLINTEND(readability-identifier-naming)

}  // namespace dovrik
