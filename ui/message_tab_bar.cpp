#include "ui/message_tab_bar.h"

#include <QKeyEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionTab>
#include <QToolButton>
#include <QWheelEvent>
#include <algorithm>

#include "ui/message_tab_bar_accessible.h"

namespace dovrik {
namespace {

constexpr std::int64_t kFarAway = 1 << 30;

int DigitCount(int index) {
  int digits = 1;
  while (index >= 10) {
    index /= 10;
    ++digits;
  }
  return digits;
}

// First index with d digits, and the first with d + 1 (the end of the class), as 64-bit values
// so the class of ten digits ends past INT_MAX without overflow.
std::int64_t ClassStart(int digits) {
  if (digits == 1) return 0;
  std::int64_t v = 1;
  for (int i = 1; i < digits; ++i) v *= 10;
  return v;
}
std::int64_t ClassEnd(int digits) {
  return digits == 1 ? 10 : ClassStart(digits) * 10;
}

}  // namespace

MessageTabBar::MessageTabBar(QWidget* parent)
    : QWidget(parent), left_button_(new QToolButton(this)), right_button_(new QToolButton(this)) {
  InstallMessageTabBarAccessibility();
  setFocusPolicy(Qt::StrongFocus);
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  for (QToolButton* b : {left_button_, right_button_}) {
    b->setAutoRepeat(true);
    b->setFocusPolicy(Qt::NoFocus);
    b->hide();
  }
  left_button_->setArrowType(Qt::LeftArrow);
  left_button_->setAccessibleName(tr("Scroll left"));
  right_button_->setArrowType(Qt::RightArrow);
  right_button_->setAccessibleName(tr("Scroll right"));
  connect(left_button_, &QToolButton::clicked, this, [this] { scrollBy(-1); });
  connect(right_button_, &QToolButton::clicked, this, [this] { scrollBy(1); });
  updateMetrics();
}

QString MessageTabBar::tabText(int index) {
  return QStringLiteral("Message #%1").arg(index);
}

void MessageTabBar::updateMetrics() {
  const QFontMetrics fm = fontMetrics();
  int widest_digit = 0;
  for (char c = '0'; c <= '9'; ++c)
    widest_digit = std::max(widest_digit, fm.horizontalAdvance(QChar(c)));
  const int prefix = fm.horizontalAdvance(QStringLiteral("Message #"));
  QStyleOptionTab opt;
  opt.initFrom(this);
  opt.shape = QTabBar::RoundedNorth;
  const int hframe = style()->pixelMetric(QStyle::PM_TabBarTabHSpace, &opt, this);
  const int vframe = style()->pixelMetric(QStyle::PM_TabBarTabVSpace, &opt, this);
  for (int d = 1; d <= kMaxDigits; ++d) {
    opt.text = QString(d, QChar('0'));
    const QSize contents(prefix + d * widest_digit + hframe, fm.height() + vframe);
    const QSize size = style()->sizeFromContents(QStyle::CT_TabBarTab, &opt, contents, this);
    width_by_digits_[d] = std::max(1, size.width());
    tab_height_ = size.height();
  }
  updateGeometry();
  updateButtons();
}

int MessageTabBar::tabWidth(int index) const {
  return width_by_digits_[DigitCount(index)];
}

std::int64_t MessageTabBar::tabLeft(int index) const {
  std::int64_t x = 0;
  for (int d = 1; d <= kMaxDigits && ClassStart(d) < index; ++d) {
    x += (std::min<std::int64_t>(index, ClassEnd(d)) - ClassStart(d)) * width_by_digits_[d];
  }
  return x;
}

int MessageTabBar::indexAtOffset(std::int64_t x) const {
  if (x < 0) return -1;
  std::int64_t start = 0;
  for (int d = 1; d <= kMaxDigits && ClassStart(d) < count_; ++d) {
    const std::int64_t n = std::min<std::int64_t>(count_, ClassEnd(d)) - ClassStart(d);
    const std::int64_t span = n * width_by_digits_[d];
    if (x < start + span)
      return static_cast<int>(ClassStart(d) + (x - start) / width_by_digits_[d]);
    start += span;
  }
  return -1;
}

int MessageTabBar::stripWidth() const {
  if (tabLeft(count_) <= width()) return width();
  return std::max(0, width() - left_button_->sizeHint().width() * 2);
}

int MessageTabBar::lastVisible() const {
  if (count_ == 0) return -1;
  const int last = indexAtOffset(tabLeft(first_) + stripWidth() - 1);
  return last < 0 ? count_ - 1 : last;
}

QRect MessageTabBar::tabRect(int index) const {
  if (index < 0 || index >= count_) return {};
  const std::int64_t x = tabLeft(index) - tabLeft(first_);
  if (x < -kFarAway || x > kFarAway) return {};  // beyond what widget coordinates can hold
  return QRect(static_cast<int>(x), 0, tabWidth(index), tab_height_);
}

int MessageTabBar::tabAt(const QPoint& pos) const {
  if (pos.y() < 0 || pos.y() >= tab_height_ || pos.x() < 0 || pos.x() >= stripWidth()) return -1;
  return indexAtOffset(tabLeft(first_) + pos.x());
}

void MessageTabBar::setCount(int n) {
  count_ = std::max(0, n);
  first_ = 0;
  wheel_rest_ = 0;
  const int old = current_;
  current_ = count_ > 0 ? 0 : -1;
  MessageTabBarAccessibilityReset(this);
  updateButtons();
  update();
  if (current_ != old) emit currentChanged(current_);
}

void MessageTabBar::setCurrentIndex(int index) {
  if (index < 0 || index >= count_) return;
  scrollToTab(index);
  if (index == current_) return;
  current_ = index;
  update();
  MessageTabBarAccessibilitySelected(this, index);
  emit currentChanged(index);
}

void MessageTabBar::stepCurrent(int delta) {
  if (count_ == 0) return;
  const std::int64_t next = std::clamp<std::int64_t>(std::int64_t{current_} + delta, 0, count_ - 1);
  setCurrentIndex(static_cast<int>(next));
}

void MessageTabBar::scrollToTab(int index) {
  if (index < 0 || index >= count_) return;
  if (index < first_) {
    first_ = index;
  } else {
    const std::int64_t overflow = tabLeft(index + 1) - tabLeft(first_) - stripWidth();
    if (overflow > 0) {
      // The smallest first tab that still shows the whole of this one.
      const std::int64_t from = tabLeft(index + 1) - stripWidth();
      int f = indexAtOffset(from);
      if (f < 0) f = index;  // no room at all
      if (tabLeft(f) < from) ++f;
      first_ = std::clamp(f, first_, index);
    }
  }
  updateButtons();
  update();
}

void MessageTabBar::scrollBy(int tabs) {
  if (count_ == 0) return;
  int last_first = 0;  // the first tab when the strip is scrolled to its very end
  if (tabLeft(count_) > stripWidth()) {
    const std::int64_t from = tabLeft(count_) - stripWidth();
    last_first = indexAtOffset(from);
    if (last_first < 0) last_first = count_ - 1;  // no room at all
    if (tabLeft(last_first) < from) ++last_first;
    last_first = std::min(last_first, count_ - 1);
  }
  first_ = static_cast<int>(std::clamp<std::int64_t>(std::int64_t{first_} + tabs, 0, last_first));
  updateButtons();
  update();
}

void MessageTabBar::updateButtons() {
  const bool overflow = tabLeft(count_) > width();
  left_button_->setVisible(overflow);
  right_button_->setVisible(overflow);
  if (!overflow) {
    first_ = 0;
    return;
  }
  const QSize b(left_button_->sizeHint().width(), tab_height_);
  right_button_->setGeometry(width() - b.width(), 0, b.width(), b.height());
  left_button_->setGeometry(width() - 2 * b.width(), 0, b.width(), b.height());
  left_button_->setEnabled(first_ > 0);
  right_button_->setEnabled(tabLeft(count_) - tabLeft(first_) > stripWidth());
}

QSize MessageTabBar::sizeHint() const {
  return QSize(width_by_digits_[1] * 3, tab_height_);
}
QSize MessageTabBar::minimumSizeHint() const {
  return QSize(width_by_digits_[1], tab_height_);
}

void MessageTabBar::paintEvent(QPaintEvent*) {
  QPainter p(this);
  QStyleOptionTabBarBase base;
  base.initFrom(this);
  base.shape = QTabBar::RoundedNorth;
  const int overlap = style()->pixelMetric(QStyle::PM_TabBarBaseOverlap, nullptr, this);
  base.rect = QRect(0, height() - overlap, width(), overlap);
  if (current_ >= 0) base.selectedTabRect = tabRect(current_);
  style()->drawPrimitive(QStyle::PE_FrameTabBarBase, &base, &p, this);
  if (count_ == 0) return;

  const int strip = stripWidth();
  p.setClipRect(0, 0, strip, height());
  const int last = lastVisible();
  // The current tab is drawn last, so a style that draws it larger overlaps its neighbours.
  auto draw = [&](int i) {
    QStyleOptionTab opt;
    opt.initFrom(this);
    opt.shape = QTabBar::RoundedNorth;
    opt.rect = tabRect(i);
    opt.text = tabText(i);
    opt.state &= ~QStyle::State_HasFocus;
    if (i == current_) {
      opt.state |= QStyle::State_Selected;
      if (hasFocus()) opt.state |= QStyle::State_HasFocus;
    }
    opt.position = count_ == 1       ? QStyleOptionTab::OnlyOneTab
                   : i == 0          ? QStyleOptionTab::Beginning
                   : i == count_ - 1 ? QStyleOptionTab::End
                                     : QStyleOptionTab::Middle;
    opt.selectedPosition = current_ == i - 1   ? QStyleOptionTab::PreviousIsSelected
                           : current_ == i + 1 ? QStyleOptionTab::NextIsSelected
                                               : QStyleOptionTab::NotAdjacent;
    style()->drawControl(QStyle::CE_TabBarTab, &opt, &p, this);
    if (opt.state & QStyle::State_HasFocus) {
      QStyleOptionFocusRect focus;
      focus.initFrom(this);
      focus.rect = opt.rect.adjusted(3, 3, -3, -3);
      style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &p, this);
    }
  };
  for (int i = first_; i <= last; ++i) {
    if (i != current_) draw(i);
  }
  if (current_ >= first_ && current_ <= last) draw(current_);
}

void MessageTabBar::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
  const int index = tabAt(event->position().toPoint());
  if (index >= 0) setCurrentIndex(index);
}

void MessageTabBar::keyPressEvent(QKeyEvent* event) {
  const bool ctrl = event->modifiers() & Qt::ControlModifier;
  switch (event->key()) {
    case Qt::Key_Left:
      return stepCurrent(-1);
    case Qt::Key_Right:
      return stepCurrent(1);
    case Qt::Key_Home:
      return setCurrentIndex(0);
    case Qt::Key_End:
      return setCurrentIndex(count_ - 1);
    case Qt::Key_PageUp:
      if (ctrl) return stepCurrent(-1);
      break;
    case Qt::Key_PageDown:
      if (ctrl) return stepCurrent(1);
      break;
    default:
      break;
  }
  QWidget::keyPressEvent(event);
}

void MessageTabBar::wheelEvent(QWheelEvent* event) {
  const QPoint delta = event->angleDelta();
  wheel_rest_ += delta.y() != 0 ? delta.y() : delta.x();
  const int steps = wheel_rest_ / 120;
  if (steps == 0) return event->accept();
  wheel_rest_ -= steps * 120;
  stepCurrent(-steps);  // away from the user: the previous tab
  event->accept();
}

void MessageTabBar::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  scrollBy(0);  // keeps no empty room after the last tab
  if (current_ >= 0 && event->oldSize().width() != width()) scrollToTab(current_);
}

void MessageTabBar::changeEvent(QEvent* event) {
  if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
    updateMetrics();
    update();
  }
  QWidget::changeEvent(event);
}

}  // namespace dovrik
