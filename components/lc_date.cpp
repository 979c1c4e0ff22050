#include "components/lc_date.h"

#include <ctime>

#ifndef DOVRIK_BUILD_EPOCH
#error "DOVRIK_BUILD_EPOCH must be defined by the build (components/lc_date.cmake)"
#endif

namespace dovrik {
namespace {

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

constexpr std::int64_t kUnixEpochAsDateTime = 25569;  // 1970-01-01 counted from 1899-12-30

}  // namespace

double DateTimeFromUnixSeconds(std::int64_t seconds, TimeZone zone) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  if ((zone == TimeZone::kLocal ? localtime_r(&t, &tm) : gmtime_r(&t, &tm)) == nullptr) return 0;
  const std::int64_t days = DaysFromCivil(tm.tm_year + 1900LL, static_cast<unsigned>(tm.tm_mon + 1),
                                          static_cast<unsigned>(tm.tm_mday)) +
                            kUnixEpochAsDateTime;
  const int second_of_day = tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec;
  return static_cast<double>(days) + second_of_day / 86400.0;
}

TLCDate TLCDate::WithBuildDate() {
  TLCDate date;
  date.SetLCDate(BuildDate());
  return date;
}

std::int64_t TLCDate::BuildEpochSeconds() {
  return DOVRIK_BUILD_EPOCH;
}

double TLCDate::BuildDate() {
  const std::int64_t epoch = BuildEpochSeconds();
  return epoch == 0 ? 0.0 : DateTimeFromUnixSeconds(epoch, TimeZone::kLocal);
}

}  // namespace dovrik
