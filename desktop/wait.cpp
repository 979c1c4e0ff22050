#include "desktop/wait.h"

#include <QApplication>
#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QTimer>
#include <climits>

namespace dovrik {

TCustomWait::TCustomWait(QWidget* parent)
    : QWidget(parent),
      TWaitControl(nullptr),
      Pen(Qt::black),
      Brush(Qt::white),
      Beep([] { QApplication::beep(); }),
      timer_(new QTimer(this)) {
  setAccessibleDescription(QString::fromStdString(caption_));
  resize(192, 32);
  Font.setFamily("Courier");
  Font.setPointSize(8);
  Font.setFixedPitch(true);
  Font.setStyleHint(QFont::TypeWriter);
  timer_->setInterval(1000);
  connect(timer_, &QTimer::timeout, this, &TCustomWait::TimerTick);
}

TCustomWait::~TCustomWait() {
  timer_->stop();
}

int TCustomWait::ParseNumber(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  long long n = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    n = n * 10 + (text[i] - '0');
    if (n > INT_MAX) return INT_MAX;
  }
  return static_cast<int>(n);
}

void TCustomWait::SetCaption(const std::string& value) {
  // The count is drawn, so screen readers get it as the description. Only a change is passed
  // on: each is an event on the accessibility bus, and a tick may set the same count again.
  if (value != caption_) setAccessibleDescription(QString::fromStdString(value));
  caption_ = value;
  update();
}

bool TCustomWait::Visible() const {
  // The flag, as for a child of a window that isn't shown yet: true unless hidden on purpose.
  return parentWidget() != nullptr ? isVisibleTo(parentWidget()) : isVisible();
}

void TCustomWait::SetVisible(bool value) {
  QWidget::setVisible(value);
}

quint16 TCustomWait::Interval() const {
  return static_cast<quint16>(timer_->interval());
}

void TCustomWait::SetInterval(quint16 ms) {
  timer_->setInterval(ms);
}

bool TCustomWait::Running() const {
  return timer_->isActive();
}

void TCustomWait::Start() {
  start_count_ = ParseNumber(caption_);
  if (start_count_ == 0) {
    start_count_ = 15;
    SetCaption("15");
  }
  timer_->start();
  if (OnWaitStart) OnWaitStart(this);
}

void TCustomWait::Stop() {
  modal_result_ = 1;
  timer_->stop();
  SetCaption(std::to_string(start_count_));
  if (OnWaitStop) OnWaitStop(this);
}

void TCustomWait::Restore() {
  SetCaption(std::to_string(start_count_));
}

void TCustomWait::TimerTick() {
  const int n = ParseNumber(caption_) - 1;
  if (OnWait) {
    OnWait(this, n);
    // A handler that stopped the countdown has ended it: the tick must not count on, or the
    // caption would keep the count and a time-out could follow the stop.
    if (!timer_->isActive()) return;
  }
  if (n <= 0) {
    timer_->stop();
    modal_result_ = 2;
    SetCaption(std::to_string(start_count_));
    if (OnTimeout) OnTimeout(this);
  } else {
    SetCaption(std::to_string(n));
  }
  update();
}

void TCustomWait::Run() {
  // Nested Runs stack their filters; each removes its own, so the outer one keeps working.
  qApp->installEventFilter(this);
  QPointer<TCustomWait> self(this);
  modal_result_ = 0;
  Start();
  while (self && Running()) {
    if (OnWaiting) OnWaiting(this);
    if (!self || !Running()) break;
    // Sleeps until something happens; the countdown's own timer wakes it at least once per tick.
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  }
  if (self) qApp->removeEventFilter(this);
}

bool TCustomWait::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
      // Only the left and right buttons are held back; the middle and extra buttons pass.
      const Qt::MouseButton button = static_cast<QMouseEvent*>(event)->button();
      if (button != Qt::LeftButton && button != Qt::RightButton) break;
      [[fallthrough]];
    }
    case QEvent::KeyPress:
      // Taken where a widget would get them (a window hands them on to its widget), so each beeps
      // once. Only the presses: the matching releases find nothing pressed and do nothing.
      if (!watched->isWidgetType()) break;
      [[fallthrough]];
    case QEvent::Shortcut:  // a key press that matched a shortcut goes there instead
      if (Beep) Beep();
      return true;
    default:
      break;
  }
  return QWidget::eventFilter(watched, event);
}

void TCustomWait::paintEvent(QPaintEvent*) {
  const int w = width();
  const int h = height();
  const int count = ParseNumber(caption_);
  const int bar = start_count_ > 0
                      ? static_cast<int>(static_cast<long long>(count) * (w - 7) / start_count_)
                      : 0;
  QPainter p(this);
  p.setPen(Pen);
  p.setFont(Font);
  QBrush brush = Brush;
  brush.setColor(Qt::white);
  p.setBrush(brush);
  // The frame covers (0, 0) up to but not including (w - 1, h - 1).
  p.drawRect(0, 0, w - 2, h - 2);
  brush.setColor(palette().color(QPalette::Highlight));
  p.setBrush(brush);
  if (bar > 0) p.drawRect(3, 3, bar - 1, h - 8);
  p.drawText(QRect(4, h / 2 - 8, w - 4, h), Qt::AlignLeft | Qt::AlignTop,
             QString::fromStdString(caption_));
}

}  // namespace dovrik
