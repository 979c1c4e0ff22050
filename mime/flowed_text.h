// Joining format=flowed text (RFC 3676) back into paragraphs.
#pragma once

#include <string>
#include <string_view>

namespace dovrik::mime {

// text: UTF-8 lines ended by LF or CR LF. Soft line breaks (a line ending in a blank) join with
// the next line of the same quote depth; with del_sp the joining blank is removed. Space-stuffing
// is undone; the signature line "-- " never flows. Every output line ends with CR LF.
std::string JoinFlowed(std::string_view text, bool del_sp);

}  // namespace dovrik::mime
