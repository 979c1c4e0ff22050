// Turning text bytes of some character set into UTF-8 for display.
#pragma once

#include <string>
#include <string_view>

namespace dovrik::mime {

// True when bytes are well-formed UTF-8 (NUL bytes allowed; no overlongs or surrogates).
bool IsUtf8(std::string_view bytes);

// Bytes whose character set nobody declared: UTF-8 when they are valid UTF-8, else windows-1252
// (which senders mean far more often than ISO 8859-1).
std::string Utf8OrWindows1252(std::string_view bytes);

// Bytes declared to be in charset (may be null or empty). An unknown charset, or bytes that are
// not what the charset claims, fall back to Utf8OrWindows1252; the result is always valid UTF-8.
std::string TextToUtf8(std::string_view bytes, const char* charset);

}  // namespace dovrik::mime
