#include "ui/warning_paint_box.h"

#include <QPainter>

namespace dovrik {
namespace {

// Draws text turned 90 degrees counter-clockwise with the top of its first letter cell at (x, y):
// the line runs upwards from y and its letters stand to the right of x. Where the face that
// stands in for Arial runs wider than Arial, the line is narrowed to end inside the box.
void DrawTurned(QPainter& painter, int x, int y, const QString& text) {
  painter.save();
  painter.translate(x, y);
  painter.rotate(-90);
  const int width = painter.fontMetrics().horizontalAdvance(text);
  if (width > y && width > 0) painter.scale(static_cast<double>(y) / width, 1.0);
  painter.drawText(0, painter.fontMetrics().ascent(), text);
  painter.restore();
}

}  // namespace

WarningPaintBox::WarningPaintBox(QWidget* parent) : QWidget(parent) {
  setObjectName("PB1");
  setAccessibleName("Warning! Don't modify message's header!");
  setFixedSize(41, 173);
  QFont turned("Arial");
  turned.setPixelSize(11);
  turned.setItalic(true);
  setFont(turned);
}

void WarningPaintBox::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setPen(palette().color(QPalette::WindowText));
  painter.setFont(font());
  const int y = height() - kBottomGap;
  DrawTurned(painter, kWarningX, y, "Warning!");
  DrawTurned(painter, kHeaderNoteX, y, "Don't modify message's header!");
}

}  // namespace dovrik
