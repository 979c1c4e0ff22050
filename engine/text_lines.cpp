#include "engine/text_lines.h"

namespace dovrik {

std::vector<std::string_view> SplitLines(std::string_view aText) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  std::size_t i = 0;
  while (i < aText.size()) {
    const char c = aText[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(aText.substr(start, i - start));
      i += (c == '\r' && i + 1 < aText.size() && aText[i + 1] == '\n') ? 2 : 1;
      start = i;
    } else {
      ++i;
    }
  }
  if (start < aText.size()) lines.push_back(aText.substr(start));
  return lines;
}

}  // namespace dovrik
