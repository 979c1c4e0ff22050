// Splits a retrieved message (the whole reply to RETR) into header fields and body.
#pragma once

#include <string>
#include <string_view>

#include "engine/engine_types.h"

namespace dovrik {

// True when aLine is the header aName (given in upper case) followed directly by ':', compared
// case-insensitively on ASCII letters; aValue then receives the trimmed value, else is unchanged.
bool ParseHeader(std::string_view aName, std::string_view aLine, std::string& aValue);

// Fills From, To, Subject and Date from the header block and Text from the body (the lines after
// the first blank line, without the text's last line, dot-stuffing undone, each ended by CR LF).
// Pure; always returns true.
bool ParseMessage(std::string_view aText, tQrMessage& aMessage);

}  // namespace dovrik
