// The bare address out of a recipient or sender text of the form Name <address>.
#pragma once

#include <string>
#include <string_view>

namespace dovrik {

// Trims blanks and control characters; when the rest ends in ">", returns what stands between
// the last "<" and that ">" (the rest without its ">" when there is no "<"); otherwise returns the
// trimmed text unchanged. Only the angle brackets are looked at, so plain words pass as addresses.
std::string ExtractAddress(std::string_view s);

}  // namespace dovrik
