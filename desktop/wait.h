// TCustomWait / TWait: a small visual countdown control. Given a start count in Caption it counts
// down once per timer interval, draws a bar that shrinks with the count, and ends either when it
// is stopped (ModalResult 1) or when the count reaches zero (ModalResult 2). Run is a modal loop
// that keeps the application's events turning and swallows clicks and key presses with a beep.
// A socket with MultiThreaded false uses it for its waits. GUI thread only.
#pragma once

#include <QBrush>
#include <QFont>
#include <QPen>
#include <QWidget>
#include <functional>
#include <string>

#include "socket/wait_control.h"

class QTimer;

namespace dovrik {

// The control's names are its fixed surface, shared with the socket's waits.
// NOLINTBEGIN(readability-identifier-naming)
class TCustomWait : public QWidget, public TWaitControl {
  Q_OBJECT
 public:
  using TWaitEvent = std::function<void(TCustomWait* Sender, int Count)>;
  using TNotifyEvent = std::function<void(TCustomWait* Sender)>;

  explicit TCustomWait(QWidget* parent = nullptr);
  ~TCustomWait() override;

  virtual void Restore();

  // TWaitControl
  std::string Caption() const override { return caption_; }
  void SetCaption(const std::string& value) override;
  bool Visible() const override;
  void SetVisible(bool value) override;
  void Start() override;
  void Stop() override;
  void Run() override;
  bool Running() const override;

  int ModalResult() const { return modal_result_; }
  void SetModalResult(int value) { modal_result_ = value; }
  int StartCount() const { return start_count_; }
  quint16 Interval() const;
  void SetInterval(quint16 ms);

  // The pen, font and brush used for painting.
  QPen Pen;
  QFont Font;
  QBrush Brush;

  TWaitEvent OnWait;
  TNotifyEvent OnWaiting;
  TNotifyEvent OnWaitStart;
  TNotifyEvent OnWaitStop;
  TNotifyEvent OnTimeout;
  // Sounds the beep for a swallowed click or key press; QApplication::beep by default.
  std::function<void()> Beep;

  // Leading blanks skipped, then decimal digits; 0 when there are none. Saturates instead of
  // overflowing.
  static int ParseNumber(const std::string& text);

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void TimerTick();

  std::string caption_ = "60";
  QTimer* timer_;  // child
  int modal_result_ = 0;
  int start_count_ = 60;
};
// NOLINTEND(readability-identifier-naming)

// Publishes the properties; adds no behaviour.
class TWait : public TCustomWait {
  Q_OBJECT
 public:
  using TCustomWait::TCustomWait;
};

}  // namespace dovrik
