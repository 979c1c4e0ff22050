// Lenient integer conversion used for settings text and server replies.
#pragma once

#include <string_view>

namespace dovrik {

// Removes leading and trailing bytes up to and including the blank (0x00..0x20), then converts
// the rest as a signed 32-bit decimal number with an optional sign. Anything else (empty text,
// stray characters, overflow) gives aDefault. Pure: safe on any thread.
int StrToIntDefTrim(std::string_view aText, int aDefault);

}  // namespace dovrik
