// A date-time's date in the long date format of the user's locale.
#pragma once

#include <string>

namespace dovrik {

// date_time: days since 30 December 1899, the time of day as the fraction (dropped here). UTF-8
// text through QLocale::system(); empty when the value is not a date (NaN, infinite, out of range).
std::string LongDateText(double date_time);

}  // namespace dovrik
