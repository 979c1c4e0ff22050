#include "model/display_text.h"

#include <QByteArray>
#include <QStringDecoder>

namespace dovrik {

QString DisplayText(std::string_view bytes) {
  const QByteArrayView view(bytes.data(), static_cast<qsizetype>(bytes.size()));
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString decoded = utf8.decode(view);
  if (!utf8.hasError()) return decoded;
  return QString::fromLatin1(view);
}

std::string BytesFromText(const QString& text) {
  const QByteArray utf8 = text.toUtf8();
  return std::string(utf8.constData(), static_cast<std::size_t>(utf8.size()));
}

}  // namespace dovrik
