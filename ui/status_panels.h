// The status bar's panels: labels side by side, each of its given width or, when its text needs
// more, as wide as its text; the last ones cut off when the window is narrower than their sum
// (they never squeeze one another).
#pragma once

#include <QWidget>
#include <vector>

class QLabel;

namespace dovrik {

class StatusPanels : public QWidget {
 public:
  // Panels are named "SB1Panel0", "SB1Panel1", ...
  StatusPanels(std::vector<int> widths, QWidget* parent = nullptr);
  QLabel* panel(int index) const { return panels_.at(index); }
  // Shows text in panel index, widening it (and moving the ones after it) when the text needs it.
  void setText(int index, const QString& text);
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  // Each panel's width: the given one, or what its text needs when that is more.
  std::vector<int> shownWidths() const;
  void layoutPanels();

  std::vector<int> widths_;
  std::vector<QLabel*> panels_;  // children
};

}  // namespace dovrik
