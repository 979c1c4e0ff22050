#include "mime/flowed_text.h"

#include <cstddef>

namespace dovrik::mime {
namespace {

void EndParagraph(std::string& out, std::size_t depth, std::string& paragraph, bool& open) {
  if (!open) return;
  out.append(depth, '>');
  if (depth > 0 && !paragraph.empty()) out += ' ';
  out += paragraph;
  out += "\r\n";
  paragraph.clear();
  open = false;
}

}  // namespace

std::string JoinFlowed(std::string_view text, bool del_sp) {
  std::string out;
  out.reserve(text.size() + 2);
  std::string paragraph;
  bool open = false;     // a paragraph is being collected
  bool flowing = false;  // its last line was a soft break
  std::size_t depth = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t nl = text.find('\n', pos);
    std::string_view line = text.substr(pos, nl == std::string_view::npos ? nl : nl - pos);
    pos = nl == std::string_view::npos ? text.size() : nl + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::size_t quotes = 0;
    while (quotes < line.size() && line[quotes] == '>') ++quotes;
    line.remove_prefix(quotes);
    if (!line.empty() && line.front() == ' ') line.remove_prefix(1);
    const bool soft = !line.empty() && line.back() == ' ' && line != "-- ";
    if (soft && del_sp) line.remove_suffix(1);
    if (!(open && flowing && quotes == depth)) EndParagraph(out, depth, paragraph, open);
    depth = quotes;
    paragraph += line;
    open = true;
    flowing = soft;
  }
  EndParagraph(out, depth, paragraph, open);
  return out;
}

}  // namespace dovrik::mime
