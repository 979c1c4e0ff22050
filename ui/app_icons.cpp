#include "ui/app_icons.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

namespace dovrik {
namespace {

// Each size is rendered from the drawing rather than scaled from one bitmap, so the small tray
// sizes stay sharp.
QIcon IconFromSvg(const QString& resource) {
  QSvgRenderer renderer(resource);
  QIcon icon;
  if (!renderer.isValid()) return icon;
  for (int size : kIconSizes) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
    painter.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace

QIcon ApplicationIcon() {
  return IconFromSvg(QStringLiteral(":/icons/dovrik.svg"));
}

QIcon NewMailIcon() {
  return IconFromSvg(QStringLiteral(":/icons/dovrik-new-mail.svg"));
}

}  // namespace dovrik
