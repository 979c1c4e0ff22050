// Pieces of the SMTP dialogue that stand on their own.
#pragma once

#include <string>
#include <string_view>

namespace dovrik {

// The DATA block for aText: every line (CR LF, lone CR or lone LF breaks) dot-stuffed and ended by
// CR LF, then an empty line and ".". Sent as one command, which adds the final CR LF.
std::string BuildSmtpDataBlock(std::string_view aText);

}  // namespace dovrik
