// The text of an outgoing message's "Date: " line.
#pragma once

#include <string>

namespace dovrik {

// "ddd, d mmm yyyy hh:mm:ss" with English day and month names whatever the user's locale, and no
// time zone: 46362.3358... (6 December 2026, 08:03:32) gives "Sun, 6 Dec 2026 08:03:32".
// date_time counts days since 30 December 1899 with the time of day as the fraction (a negative
// value's fraction still counts forwards from midnight). Empty for values outside the years 1 to
// 9999 and for NaN or infinity.
std::string MailDate(double date_time);

// The current local date and time as such a day count.
double NowDateTime();

}  // namespace dovrik
