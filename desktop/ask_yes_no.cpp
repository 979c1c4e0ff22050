#include "desktop/ask_yes_no.h"

#include <QMessageBox>
#include <QStringDecoder>

namespace dovrik {
namespace {

QString DisplayText(std::string_view text) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString decoded = utf8.decode(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
  if (!utf8.hasError()) return decoded;
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

bool AskYesNo(std::string_view message, QWidget* parent) {
  QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"), DisplayText(message),
                  QMessageBox::Yes | QMessageBox::No, parent);
  box.setDefaultButton(QMessageBox::Yes);
  box.setEscapeButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

}  // namespace dovrik
