// PB1 of the compose window: the standing warning not to change the header lines, drawn turned a
// quarter to the left so it reads from bottom to top along the window's narrow left strip.
// Owned by its parent (the strip); GUI thread only.
#pragma once

#include <QWidget>

namespace dovrik {

class WarningPaintBox : public QWidget {
 public:
  explicit WarningPaintBox(QWidget* parent = nullptr);

  // Where the two lines begin: across the strip at x, up from y = height - 5.
  static constexpr int kWarningX = 2;
  static constexpr int kHeaderNoteX = 20;
  static constexpr int kBottomGap = 5;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace dovrik
