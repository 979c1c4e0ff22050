// Stand-in drawings until the icon set lands.
#include <QPainter>
#include <QPixmap>

#include "ui/app_icons.h"

namespace dovrik {
namespace {

QIcon Envelope(bool new_mail) {
  QIcon icon;
  for (int side : {16, 22, 24, 32, 48, 64}) {
    QPixmap pixmap(side, side);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF body(side * 0.06, side * 0.22, side * 0.88, side * 0.6);
    p.setPen(QPen(Qt::black, std::max(1.0, side / 16.0)));
    p.setBrush(new_mail ? QColor(255, 214, 64) : QColor(240, 240, 240));
    p.drawRect(body);
    p.drawLine(body.topLeft(), QPointF(body.center().x(), body.center().y()));
    p.drawLine(body.topRight(), QPointF(body.center().x(), body.center().y()));
    if (new_mail) {
      p.setBrush(QColor(220, 30, 30));
      p.setPen(Qt::NoPen);
      p.drawEllipse(QRectF(side * 0.56, 0, side * 0.44, side * 0.44));
    }
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace

QIcon ApplicationIcon() {
  return Envelope(false);
}
QIcon NewMailIcon() {
  return Envelope(true);
}

}  // namespace dovrik
