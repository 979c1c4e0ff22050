#include "model/credits_text.h"

namespace dovrik {

QStringList CreditsText(std::string_view version, std::string_view build_date) {
  const QString date = QString::fromUtf8(build_date.data(), build_date.size());
  return {
      QStringLiteral("Dovrik %1 (%2)").arg(QString::fromUtf8(version.data(), version.size()), date),
      QString(),
      QStringLiteral("Thanks to everyone who tried the early builds and told us what broke."),
      QStringLiteral("Thanks to the people who keep the free desktop and its mail servers going."),
      QStringLiteral("Socket component TWSocket: event-driven, non-blocking TCP for Dovrik."),
      QStringLiteral("Tray component TRxTray: the icon, hint and menu in the notification area."),
  };
}

}  // namespace dovrik
