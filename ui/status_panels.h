// The status bar's panels: labels of fixed widths side by side, the last ones cut off when the
// window is narrower than their sum (they never squeeze one another).
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
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  std::vector<int> widths_;
  std::vector<QLabel*> panels_;  // children
};

}  // namespace dovrik
