// MessageTabBar: the row of message tabs above the message view, one tab per message on the
// server ("Message #0", "Message #1", ... so tab i is message number i + 1).
//
// The tabs are virtual: no object exists per tab. Widths come from the font's metrics, cached per
// digit count, so the position of any tab is a sum over at most ten width classes and a count of
// a hundred thousand costs no more than a count of three. Only the tabs in view are painted.
// Lives on the GUI thread; owned by its parent widget.
#pragma once

#include <QWidget>
#include <array>
#include <cstdint>

class QToolButton;

namespace dovrik {

class MessageTabBar : public QWidget {
  Q_OBJECT
 public:
  explicit MessageTabBar(QWidget* parent = nullptr);

  static QString tabText(int index);

  int count() const { return count_; }
  // Replaces all tabs. The first tab becomes current (none when n is 0) and the strip scrolls to
  // the start; currentChanged is emitted when the current index changes.
  void setCount(int n);
  int currentIndex() const { return current_; }
  // Out-of-range indexes are ignored. Scrolls the tab into view.
  void setCurrentIndex(int index);

  // Geometry, in widget coordinates with the current scrolling applied.
  QRect tabRect(int index) const;
  int tabAt(const QPoint& pos) const;  // -1 when no tab is there
  // The first tab painted at the left edge, and whether tabs lie beyond either edge.
  int firstVisible() const { return first_; }
  int lastVisible() const;
  void scrollToTab(int index);
  void scrollBy(int tabs);

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 signals:
  void currentChanged(int index);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  static constexpr int kMaxDigits = 10;  // int counts have at most ten digits

  void updateMetrics();
  int tabWidth(int index) const;
  std::int64_t tabLeft(int index) const;  // from the first tab's left edge
  int indexAtOffset(std::int64_t x) const;
  int stripWidth() const;  // width available to tabs (without the scroll buttons)
  void updateButtons();
  void stepCurrent(int delta);

  int count_ = 0;
  int current_ = -1;
  int first_ = 0;
  int wheel_rest_ = 0;
  int tab_height_ = 0;
  std::array<int, kMaxDigits + 1> width_by_digits_{};
  QToolButton* left_button_;   // child
  QToolButton* right_button_;  // child
};

}  // namespace dovrik
