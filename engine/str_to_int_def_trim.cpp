#include "engine/str_to_int_def_trim.h"

#include <cstdint>

#include "platform/trim.h"

namespace dovrik {

int StrToIntDefTrim(std::string_view aText, int aDefault) {
  aText = platform::TrimBlanks(aText);
  bool negative = false;
  if (!aText.empty() && (aText.front() == '+' || aText.front() == '-')) {
    negative = aText.front() == '-';
    aText.remove_prefix(1);
  }
  if (aText.empty()) return aDefault;
  // Accumulate as a magnitude so INT32_MIN is reachable.
  const std::int64_t limit = negative ? 2147483648LL : 2147483647LL;
  std::int64_t value = 0;
  for (char c : aText) {
    if (c < '0' || c > '9') return aDefault;
    value = value * 10 + (c - '0');
    if (value > limit) return aDefault;
  }
  return static_cast<int>(negative ? -value : value);
}

}  // namespace dovrik
