#include "mime/prepared_input.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

#include "mime/header_text.h"

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

// Encoded words, so that the decoder turns them into UTF-8 whatever the bytes around them are.
constexpr std::string_view kReplacementWord = "=?UTF-8?B?77+9?=";    // U+FFFD
constexpr std::string_view kCutMarkWord = " =?UTF-8?Q?=E2=80=A6?=";  // kCutMark

// A field's first line: a name of printable characters, blanks, a colon. The first line of a
// stored mailbox ("From sender date") counts as one too: the parser skips it.
bool IsFieldLine(std::string_view line, bool first) {
  if (first && line.substr(0, 5) == "From ") return true;
  std::size_t i = 0;
  while (i < line.size() && line[i] > ' ' && line[i] < 0x7F && line[i] != ':') ++i;
  if (i == 0) return false;
  while (i < line.size() && IsBlank(line[i])) ++i;
  return i < line.size() && line[i] == ':';
}

// Lines end in lone CRs when the first line break is one.
bool EndsLinesWithCr(std::string_view text) {
  const std::size_t brk = text.find_first_of("\r\n");
  return brk != std::string_view::npos && text[brk] == '\r' &&
         (brk + 1 == text.size() || text[brk + 1] != '\n');
}

std::string WithLineFeeds(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16 + 2);
  for (std::size_t i = 0; i < text.size(); ++i) {
    out += text[i];
    if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')) out += '\n';
  }
  return out;
}

// The boundary parameter of the Content-Type field whose value starts at type (its folded lines
// included, up to a bound), or empty.
std::string_view BoundaryOf(std::string_view text, std::size_t type) {
  constexpr std::size_t kFieldReach = 4096;
  std::size_t end = type;
  while (end < text.size() && end - type < kFieldReach) {  // to the end of the field
    end = text.find('\n', end);
    if (end == std::string_view::npos) {
      end = text.size();
      break;
    }
    ++end;
    if (end >= text.size() || !IsBlank(text[end])) break;
  }
  const std::string_view field = text.substr(type, end - type);
  for (std::size_t at = 0; (at = field.find_first_of("bB", at)) != std::string_view::npos; ++at) {
    if (!StartsWithNoCase(field.substr(at), "boundary") ||
        (at > 0 && field[at - 1] != ';' && !IsBlank(field[at - 1])))
      continue;
    std::size_t p = at + 8;
    while (p < field.size() && IsBlank(field[p])) ++p;
    if (p >= field.size() || field[p] != '=') continue;
    ++p;
    while (p < field.size() && IsBlank(field[p])) ++p;
    if (p < field.size() && field[p] == '"') {
      const std::size_t close = field.find('"', p + 1);
      if (close == std::string_view::npos) return {};
      return field.substr(p + 1, close - p - 1);
    }
    const std::size_t stop = field.find_first_of("; \t\r\n", p);
    return field.substr(p, (stop == std::string_view::npos ? field.size() : stop) - p);
  }
  return {};
}

// "--boundary" opening a part (not the closing "--boundary--"); blanks may follow, as the
// parser allows.
bool OpensPart(std::string_view line, const std::vector<std::string_view>& boundaries) {
  if (line.size() < 3 || line[0] != '-' || line[1] != '-') return false;
  line.remove_prefix(2);
  for (const std::string_view b : boundaries) {
    if (line.substr(0, b.size()) != b) continue;
    const std::string_view rest = line.substr(b.size());
    if (rest.substr(0, 2) == "--") return false;
    if (rest.find_first_not_of(" \t\r\n") == std::string_view::npos) return true;
  }
  return false;
}

}  // namespace

PreparedInput::PreparedInput(std::string_view raw, Framing framing) {
  const bool pop3 = framing == Framing::kPop3Reply;
  view_ = pop3 ? Unframe(raw) : raw;
  if (EndsLinesWithCr(view_)) {
    with_line_feeds_ = WithLineFeeds(view_);
    view_ = with_line_feeds_;
  }
  std::vector<Edit> edits;
  std::vector<std::string_view> boundaries;  // of the multiparts parsed as such
  int containers = 0;
  int parts = 0;
  bool top_header = true;        // in the message's own header block
  bool in_header = true;         // in any: the message's, a part's, an enclosed message's
  bool message_follows = false;  // this block declares message/*: a header block follows it
  int fields = 0;                // in this block
  std::size_t field_bytes = 0;   // of the current field, its folded lines together
  bool left_out = false;         // the current field is past a limit
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
    if (in_header) {
      if (content == 0) {
        top_header = false;
        in_header = message_follows;
        message_follows = false;
        fields = 0;
      } else if (top_header && !IsBlank(line.front()) && !IsFieldLine(line, pos == 0)) {
        edits.push_back({start, 0, "\r\n"});  // the body starts here
        top_header = in_header = false;
      } else {
        // The parser keeps hundreds of bytes for each field: a block of a million short ones
        // took more than half a gigabyte. Fields past the limit, and folded lines past the
        // line cap, are left out.
        if (!IsBlank(line.front())) {
          field_bytes = 0;
          left_out = ++fields > kMaxHeaderFields;
        }
        field_bytes += content;
        left_out = left_out || (IsBlank(line.front()) && field_bytes > kMaxHeaderLine);
        if (left_out) {
          const bool run = !edits.empty() && !edits.back().dot && edits.back().insert.empty() &&
                           edits.back().pos + edits.back().erase == start;
          if (run)
            edits.back().erase += end - start;  // one edit for a run of lines
          else
            edits.push_back({start, end - start, {}});
        } else {
          const std::string_view kept =
              line.substr(0, CutPoint(line.substr(0, content), kMaxHeaderLine));
          for (std::size_t nul = kept.find('\0'); nul != std::string_view::npos;
               nul = kept.find('\0', nul + 1))
            edits.push_back({start + nul, 1, kReplacementWord});
          if (kept.size() < content)
            edits.push_back({start + kept.size(), content - kept.size(), kCutMarkWord});
        }
      }
    }
    if (OpensPart(line, boundaries) && ++parts > kMaxParts) {
      edits.push_back({start, view_.size() - start, {}});
      parts_cut_ = true;
      break;
    }
    if (OpensPart(line, boundaries)) {
      in_header = true;
      fields = 0;
      message_follows = false;
    }
    if (StartsWithNoCase(line, "content-type:")) {
      const std::size_t type = TypeOffset(view_, start);
      if (type != std::string_view::npos) {
        const std::string_view value = view_.substr(type);
        const bool multipart = StartsWithNoCase(value, "multipart");
        const std::size_t word = multipart ? 9 : StartsWithNoCase(value, "message") ? 7 : 0;
        if (word != 0 && ++containers > kMaxContainers) {
          edits.push_back({type, word, "x-too-deep"});
        } else if (multipart) {
          const std::string_view boundary = BoundaryOf(view_, type);
          if (!boundary.empty()) boundaries.push_back(boundary);
        } else if (word != 0 && in_header) {
          message_follows = true;
        }
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

std::string PreparedInput::Bytes() const {
  std::string out;
  for (const auto& [offset, length] : pieces_) out.append(Base().substr(offset, length));
  return out;
}

}  // namespace dovrik::mime
