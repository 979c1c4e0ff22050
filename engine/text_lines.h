// Small text helpers of the engine: trimming and splitting 8-bit text into lines.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/trim.h"

namespace dovrik {

// Removes leading and trailing blanks and control characters (bytes 0x00..0x20).
using platform::TrimBlanks;

// Splits at each CR LF, lone CR or lone LF; a line break at the very end adds no empty line.
std::vector<std::string_view> SplitLines(std::string_view aText);

}  // namespace dovrik
