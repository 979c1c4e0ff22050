#include "model/extract_address.h"

#include "engine/text_lines.h"

namespace dovrik {

std::string ExtractAddress(std::string_view s) {
  std::string_view t = TrimBlanks(s);
  if (t.empty() || t.back() != '>') return std::string(t);
  t.remove_suffix(1);
  const std::size_t open = t.rfind('<');
  return std::string(open == std::string_view::npos ? t : t.substr(open + 1));
}

}  // namespace dovrik
