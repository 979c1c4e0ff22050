#include <cstddef>

#include "mime/display_message.h"

namespace dovrik::mime {
namespace {

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsNoCase(std::string_view a, std::string_view lower) {
  if (a.size() != lower.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != lower[i]) return false;
  return true;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

}  // namespace

bool IsMimeMessage(std::string_view raw, Framing framing) {
  const bool pop3 = framing == Framing::kPop3Reply;
  if (pop3 && raw.substr(0, 3) == "+OK") {
    const std::size_t nl = raw.find('\n');
    raw.remove_prefix(nl == std::string_view::npos ? raw.size() : nl + 1);
  }
  bool shown_field = false;  // the current field is one of the four shown ones
  std::size_t pos = 0;
  while (pos < raw.size()) {
    // Lines may end in CR LF, LF or a lone CR.
    const std::size_t brk = raw.find_first_of("\r\n", pos);
    std::string_view line = raw.substr(pos, brk == std::string_view::npos ? brk : brk - pos);
    pos = brk == std::string_view::npos ? raw.size() : brk + 1;
    if (brk != std::string_view::npos && raw[brk] == '\r' && pos < raw.size() && raw[pos] == '\n')
      ++pos;
    if (pop3 && !line.empty() && line.front() == '.') line.remove_prefix(1);
    if (line.empty()) break;  // the end of the header block
    if (!IsBlank(line.front())) {
      const std::size_t colon = line.find(':');
      if (colon == std::string_view::npos) {
        shown_field = false;
        continue;
      }
      std::string_view name = line.substr(0, colon);
      while (!name.empty() && IsBlank(name.back())) name.remove_suffix(1);
      if (EqualsNoCase(name, "mime-version") || EqualsNoCase(name, "content-type") ||
          EqualsNoCase(name, "content-transfer-encoding"))
        return true;
      shown_field = EqualsNoCase(name, "from") || EqualsNoCase(name, "to") ||
                    EqualsNoCase(name, "subject") || EqualsNoCase(name, "date");
    }
    if (shown_field && line.find("=?") != std::string_view::npos) return true;
  }
  return false;
}

}  // namespace dovrik::mime
