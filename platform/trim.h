// Trimming 8-bit text at both ends: one place for what counts as a blank. Header only, so every
// core folder can use it without linking the platform library. Pure: safe on any thread.
#pragma once

#include <cctype>
#include <string>
#include <string_view>

namespace dovrik::platform {

// Bytes 0x00..0x20: blanks and control characters, as protocol replies, typed settings and
// stored values are trimmed.
constexpr bool IsBlankOrControl(char c) {
  return static_cast<unsigned char>(c) <= 0x20;
}
// Space and tab only: the blanks of a header field (a line's other control bytes are content).
constexpr bool IsSpaceOrTab(char c) {
  return c == ' ' || c == '\t';
}

// text without the bytes at either end for which is_blank holds.
template <typename IsBlank>
constexpr std::string_view TrimWhere(std::string_view text, IsBlank is_blank) {
  while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
  return text;
}

constexpr std::string_view TrimBlanks(std::string_view text) {
  return TrimWhere(text, IsBlankOrControl);
}

// Trimmed of blanks and control bytes and lowered for comparing a typed or stored word ("TLS ",
// " pop3S"). Lowers through the C library, so under the program's locale as before.
inline std::string LowerTrimmed(std::string_view text) {
  std::string out(TrimBlanks(text));
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace dovrik::platform
