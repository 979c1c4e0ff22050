#include "model/mail_date.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "components/lc_date.h"

namespace dovrik {
namespace {

constexpr std::array<const char*, 7> kEnglishDayNames = {"Sun", "Mon", "Tue", "Wed",
                                                         "Thu", "Fri", "Sat"};
constexpr std::array<const char*, 12> kEnglishMonthNames = {
    "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

constexpr std::int64_t kFirstDay = -693593;  // 1 January 0001
constexpr std::int64_t kLastDay = 2958465;   // 31 December 9999
constexpr std::int64_t kMsPerDay = 86'400'000;

struct CivilDate {
  std::int64_t year;
  unsigned month;  // 1..12
  unsigned day;    // 1..31
};

// The proleptic Gregorian date of a day counted from 1970-01-01.
CivilDate CivilFromDays(std::int64_t z) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  return {static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2), m, d};
}

}  // namespace

std::string MailDate(double date_time) {
  if (!std::isfinite(date_time)) return {};
  const double whole = std::trunc(date_time);
  if (whole < kFirstDay || whole > kLastDay) return {};
  std::int64_t day = static_cast<std::int64_t>(whole);
  std::int64_t ms = std::llround(std::fabs(date_time - whole) * kMsPerDay);
  if (ms >= kMsPerDay) {  // rounded up to the next midnight
    ms -= kMsPerDay;
    ++day;
    if (day > kLastDay) return {};
  }
  const std::int64_t unix_day = day - 25569;  // 1970-01-01 counted from 1899-12-30
  const CivilDate date = CivilFromDays(unix_day);
  const int weekday = static_cast<int>(((unix_day % 7) + 7 + 4) % 7);  // 1970-01-01 was a Thursday
  const std::int64_t seconds = ms / 1000;
  char text[48];
  std::snprintf(text, sizeof text, "%s, %u %s %04lld %02lld:%02lld:%02lld",
                kEnglishDayNames[weekday], date.day, kEnglishMonthNames[date.month - 1],
                static_cast<long long>(date.year), static_cast<long long>(seconds / 3600),
                static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
  return text;
}

double NowDateTime() {
  return DateTimeFromUnixSeconds(static_cast<std::int64_t>(std::time(nullptr)), TimeZone::kLocal);
}

}  // namespace dovrik
