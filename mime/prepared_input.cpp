#include "mime/prepared_input.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

namespace dovrik::mime {
namespace {

struct Edit {
  std::size_t pos;    // in the framed view
  std::size_t erase;  // bytes removed there
  std::string_view insert;
  bool dot = false;  // undoes dot-stuffing
};

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (Lower(s[i]) != prefix[i]) return false;
  return true;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// The message inside a RETR reply: without the status line and without the reply's last line
// (the "." line, or the marker of a reply cut short).
std::string_view Unframe(std::string_view reply) {
  if (reply.substr(0, 3) == "+OK") {
    const std::size_t nl = reply.find('\n');
    reply.remove_prefix(nl == std::string_view::npos ? reply.size() : nl + 1);
  }
  if (!reply.empty() && reply.back() == '\n') reply.remove_suffix(1);
  if (!reply.empty() && reply.back() == '\r') reply.remove_suffix(1);
  const std::size_t last = reply.find_last_of('\n');
  return last == std::string_view::npos ? std::string_view() : reply.substr(0, last + 1);
}

// Offset of the media type in the Content-Type line starting at line_start (after blanks, or on
// the folded next line), or npos.
std::size_t TypeOffset(std::string_view text, std::size_t line_start) {
  std::size_t p = line_start + std::strlen("content-type:");
  while (p < text.size()) {
    const char c = text[p];
    if (IsBlank(c)) {
      ++p;
    } else if (c == '\r' || c == '\n') {
      // A folded value continues on the next line only if that starts with a blank.
      const std::size_t next =
          (c == '\r' && p + 1 < text.size() && text[p + 1] == '\n') ? p + 2 : p + 1;
      if (next >= text.size() || !IsBlank(text[next])) return std::string_view::npos;
      p = next;
    } else {
      return p;
    }
  }
  return std::string_view::npos;
}

}  // namespace

PreparedInput::PreparedInput(std::string_view raw, Framing framing) {
  const bool pop3 = framing == Framing::kPop3Reply;
  view_ = pop3 ? Unframe(raw) : raw;
  std::vector<Edit> edits;
  int containers = 0;
  bool top_header = true;
  std::size_t pos = 0;
  while (pos < view_.size()) {
    std::size_t nl = view_.find('\n', pos);
    const std::size_t end = nl == std::string_view::npos ? view_.size() : nl + 1;
    std::string_view line = view_.substr(pos, end - pos);
    std::size_t content = line.size();  // without the line break
    if (content > 0 && line[content - 1] == '\n') --content;
    if (content > 0 && line[content - 1] == '\r') --content;
    std::size_t start = pos;
    if (pop3 && !line.empty() && line.front() == '.') {
      edits.push_back({pos, 1, {}, true});
      line.remove_prefix(1);
      ++start;
      if (content > 0) --content;
    }
    if (top_header) {
      if (content == 0) {
        top_header = false;
      } else if (content > kMaxHeaderLine) {
        edits.push_back({start + kMaxHeaderLine, content - kMaxHeaderLine, {}});
      }
    }
    if (StartsWithNoCase(line, "content-type:")) {
      const std::size_t type = TypeOffset(view_, start);
      if (type != std::string_view::npos) {
        const std::string_view value = view_.substr(type);
        const std::size_t word = StartsWithNoCase(value, "multipart") ? 9
                                 : StartsWithNoCase(value, "message") ? 7
                                                                      : 0;
        if (word != 0 && ++containers > kMaxContainers) edits.push_back({type, word, "x-too-deep"});
      }
    }
    pos = end;
  }
  const bool only_dots = std::all_of(edits.begin(), edits.end(), [](const Edit& e) {
    return e.erase == 1 && e.insert.empty() && e.dot;
  });
  if (only_dots && edits.size() < kMaxPieces) {
    std::size_t from = 0;
    for (const Edit& edit : edits) {  // found in increasing position
      pieces_.emplace_back(from, edit.pos - from);
      from = edit.pos + 1;
    }
    pieces_.emplace_back(from, view_.size() - from);
    return;
  }
  std::stable_sort(edits.begin(), edits.end(),
                   [](const Edit& a, const Edit& b) { return a.pos < b.pos; });
  repaired_ = true;
  owned_.reserve(view_.size() + edits.size() * 10);
  std::size_t from = 0;
  for (const Edit& edit : edits) {
    if (edit.pos < from) continue;  // inside a part already cut away
    owned_.append(view_.substr(from, edit.pos - from));
    owned_.append(edit.insert);
    from = edit.pos + edit.erase;
  }
  owned_.append(view_.substr(from));
  pieces_.assign(1, {0, owned_.size()});
}

std::string PreparedInput::bytes() const {
  std::string out;
  for (const auto& [offset, length] : pieces_) out.append(base().substr(offset, length));
  return out;
}

}  // namespace dovrik::mime
