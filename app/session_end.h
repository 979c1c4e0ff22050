// The end of the user's session, however it is announced: SIGTERM (a desktop logging out or a
// service manager stopping the program), SIGHUP (the terminal or session went away), SIGINT
// (Ctrl+C in a terminal), or the session manager's request to commit data.
//
// A signal handler may do next to nothing, so it only writes the signal's number into a pipe; a
// QSocketNotifier on the other end calls the handler function on the GUI thread, from the event
// loop (nested modal loops included). One SessionEnd at a time per process; create it on the GUI
// thread after the QApplication. Destroying it puts the earlier signal dispositions back.
#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

namespace dovrik {

class SessionEnd : public QObject {
  Q_OBJECT
 public:
  // on_end runs on the GUI thread whenever announcements have arrived (several at once make one
  // call); it must bear being called again
  // while the program is already ending.
  explicit SessionEnd(std::function<void()> on_end, QObject* parent = nullptr);
  ~SessionEnd() override;
  SessionEnd(const SessionEnd&) = delete;
  SessionEnd& operator=(const SessionEnd&) = delete;

  // False when the pipe or the handlers could not be set up (then no signal is caught).
  bool installed() const { return installed_; }

 private:
  void drain();

  std::function<void()> on_end_;
  QSocketNotifier* notifier_ = nullptr;  // child
  bool installed_ = false;
};

}  // namespace dovrik
