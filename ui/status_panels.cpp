#include "ui/status_panels.h"

#include <QLabel>
#include <numeric>

namespace dovrik {

StatusPanels::StatusPanels(std::vector<int> widths, QWidget* parent)
    : QWidget(parent), widths_(std::move(widths)) {
  // The widths were chosen for an 8-point font; a larger desktop font would cut the summary.
  QFont small = font();
  if (small.pointSizeF() > 8) small.setPointSizeF(8);
  setFont(small);
  for (std::size_t i = 0; i < widths_.size(); ++i) {
    auto* label = new QLabel(this);
    label->setObjectName(QStringLiteral("SB1Panel%1").arg(i));
    // No accessible name of its own: a label's text is then its name, which is what a screen
    // reader reads (a fixed name would hide the status behind "Status 0").
    label->setFrameShape(QFrame::Panel);
    label->setFrameShadow(QFrame::Sunken);
    label->setTextFormat(Qt::PlainText);
    panels_.push_back(label);
  }
}

QSize StatusPanels::sizeHint() const {
  const int height = panels_.empty() ? 0 : panels_.front()->sizeHint().height();
  return QSize(std::accumulate(widths_.begin(), widths_.end(), 0), height);
}

QSize StatusPanels::minimumSizeHint() const {
  return QSize(0, sizeHint().height());
}

void StatusPanels::resizeEvent(QResizeEvent*) {
  int x = 0;
  for (std::size_t i = 0; i < panels_.size(); ++i) {
    panels_[i]->setGeometry(x, 0, widths_[i] - 2, height());
    x += widths_[i];
  }
}

}  // namespace dovrik
