// Build-time tool: renders the program's SVG icon into a square PNG of one size, for the hicolor
// theme's fixed-size folders. Usage: dovrik-render-icon SOURCE.svg SIZE OUTPUT.png
// Exits 0 on success, 1 with a message on standard error otherwise.
#include <QImage>
#include <QPainter>
#include <QString>
#include <QSvgRenderer>
#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s SOURCE.svg SIZE OUTPUT.png\n", argv[0]);
    return 1;
  }
  const QString source = QString::fromLocal8Bit(argv[1]);
  bool size_ok = false;
  const int size = QString::fromLatin1(argv[2]).toInt(&size_ok);
  if (!size_ok || size < 1 || size > 1024) {
    std::fprintf(stderr, "size must be 1..1024 pixels, not '%s'\n", argv[2]);
    return 1;
  }
  QSvgRenderer renderer(source);
  if (!renderer.isValid()) {
    std::fprintf(stderr, "cannot read SVG icon %s\n", argv[1]);
    return 1;
  }
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
  }
  if (!image.save(QString::fromLocal8Bit(argv[3]), "PNG")) {
    std::fprintf(stderr, "cannot write %s\n", argv[3]);
    return 1;
  }
  return 0;
}
