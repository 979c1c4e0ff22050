#include "desktop/long_date_text.h"

#include <QDate>
#include <QLocale>
#include <cmath>

namespace dovrik {

std::string LongDateText(double date_time) {
  // Days before the origin count down with the time of day still positive: -1.25 is the 29th.
  const double days = std::trunc(date_time);
  if (!std::isfinite(days) || std::fabs(days) > 3.0e6) return {};  // beyond year 9999 either way
  const QDate date = QDate(1899, 12, 30).addDays(static_cast<qint64>(days));
  if (!date.isValid()) return {};
  return QLocale::system().toString(date, QLocale::LongFormat).toStdString();
}

}  // namespace dovrik
