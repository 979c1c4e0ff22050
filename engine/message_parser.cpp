#include "engine/message_parser.h"

#include <cstddef>

#include "engine/text_lines.h"

namespace dovrik {

bool ParseHeader(std::string_view aName, std::string_view aLine, std::string& aValue) {
  if (aLine.size() <= aName.size() || aLine[aName.size()] != ':') return false;
  for (std::size_t i = 0; i < aName.size(); ++i) {
    char c = aLine[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != aName[i]) return false;
  }
  aValue = std::string(TrimBlanks(aLine.substr(aName.size() + 1)));
  return true;
}

bool ParseMessage(std::string_view aText, tQrMessage& aMessage) {
  aMessage = tQrMessage{};
  const auto lines = SplitLines(aText);
  const std::size_t count = lines.size();
  for (std::size_t i = 0; i < count; ++i) {
    const std::string_view line = lines[i];
    if (ParseHeader("FROM", line, aMessage.From) || ParseHeader("TO", line, aMessage.To) ||
        ParseHeader("SUBJECT", line, aMessage.Subject) || ParseHeader("DATE", line, aMessage.Date))
      continue;
    if (!TrimBlanks(line).empty()) continue;
    // The header block ends here; the text's last line (the "." of the reply) is never body.
    for (std::size_t b = i + 1; b + 1 < count; ++b) {
      std::string_view body = lines[b];
      if (!body.empty() && body.front() == '.') body.remove_prefix(1);
      aMessage.Text.append(body);
      aMessage.Text.append("\r\n");
    }
    break;
  }
  return true;
}

}  // namespace dovrik
