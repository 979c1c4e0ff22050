// TLCDate: a small component that carries one date-time, the program's build date.
#pragma once

#include <cstdint>

namespace dovrik {

// Days since 30 December 1899 with the time of day as the fraction, for a moment given in
// seconds since 1970-01-01 UTC; in local time or in UTC.
enum class TimeZone { kLocal, kUtc };
double DateTimeFromUnixSeconds(std::int64_t seconds, TimeZone zone);

// A fixed surface: it keeps its given names.
// NOLINTBEGIN(readability-identifier-naming)
class TLCDate {
 public:
  // A component made in code carries 0, 30 December 1899.
  TLCDate() = default;
  // The component as the main window has it: carrying the build date.
  static TLCDate WithBuildDate();

  double LCDate() const { return FLCDate; }
  void SetLCDate(double value) { FLCDate = value; }

  // Refreshing the date while a form is designed; there is no designer, so nothing reads it
  // but the owner. Kept for the owner's sake.
  bool AU_LCD = true;

  // The moment of the last commit (or SOURCE_DATE_EPOCH) when the program was built, in seconds
  // since 1970 UTC; 0 when the build knew no date.
  static std::int64_t BuildEpochSeconds();
  // That moment as a local date-time; 0 when unknown.
  static double BuildDate();

 private:
  double FLCDate = 0;
};
// NOLINTEND(readability-identifier-naming)

}  // namespace dovrik
