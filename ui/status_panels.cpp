#include "ui/status_panels.h"

#include <QLabel>
#include <algorithm>
#include <numeric>

namespace dovrik {
namespace {

constexpr int kGap = 2;  // between two panels

}  // namespace

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

void StatusPanels::setText(int index, const QString& text) {
  QLabel* label = panels_.at(index);
  if (label->text() == text) return;
  label->setText(text);
  layoutPanels();
  updateGeometry();
}

std::vector<int> StatusPanels::shownWidths() const {
  std::vector<int> widths = widths_;
  for (std::size_t i = 0; i < panels_.size(); ++i)
    widths[i] = std::max(widths[i], panels_[i]->sizeHint().width() + kGap);
  return widths;
}

QSize StatusPanels::sizeHint() const {
  const int height = panels_.empty() ? 0 : panels_.front()->sizeHint().height();
  const std::vector<int> widths = shownWidths();
  return QSize(std::accumulate(widths.begin(), widths.end(), 0), height);
}

QSize StatusPanels::minimumSizeHint() const {
  return QSize(0, sizeHint().height());
}

void StatusPanels::resizeEvent(QResizeEvent*) {
  layoutPanels();
}

void StatusPanels::layoutPanels() {
  const std::vector<int> widths = shownWidths();
  int x = 0;
  for (std::size_t i = 0; i < panels_.size(); ++i) {
    panels_[i]->setGeometry(x, 0, widths[i] - kGap, height());
    x += widths[i];
  }
}

}  // namespace dovrik
