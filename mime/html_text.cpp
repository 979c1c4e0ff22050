#include "mime/html_text.h"

#include <cstddef>
#include <cstring>

namespace dovrik::mime {
namespace {

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

bool IsNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool OneOf(std::string_view name, std::initializer_list<std::string_view> names) {
  for (std::string_view n : names)
    if (name == n) return true;
  return false;
}

bool IsBlockElement(std::string_view name) {
  return OneOf(name, {"div",    "li",      "ul",     "ol",   "tr",      "table",   "pre",
                      "hr",     "dl",      "dt",     "dd",   "section", "article", "header",
                      "footer", "address", "center", "form", "body",    "html"});
}

// Elements whose content is never text to read.
bool IsHiddenElement(std::string_view name) {
  return OneOf(name, {"script", "style", "head", "title", "template", "noscript"});
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c == 0 || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

struct NamedEntity {
  std::string_view name;
  char32_t code;
};
constexpr NamedEntity kEntities[] = {
    {"amp", '&'},      {"lt", '<'},       {"gt", '>'},       {"quot", '"'},     {"apos", '\''},
    {"nbsp", 0xA0},    {"copy", 0xA9},    {"reg", 0xAE},     {"trade", 0x2122}, {"hellip", 0x2026},
    {"mdash", 0x2014}, {"ndash", 0x2013}, {"lsquo", 0x2018}, {"rsquo", 0x2019}, {"ldquo", 0x201C},
    {"rdquo", 0x201D}, {"laquo", 0xAB},   {"raquo", 0xBB},   {"euro", 0x20AC},  {"pound", 0xA3},
    {"bull", 0x2022},  {"middot", 0xB7},  {"deg", 0xB0},     {"times", 0xD7},   {"eacute", 0xE9},
    {"egrave", 0xE8},  {"agrave", 0xE0},  {"aacute", 0xE1},  {"ccedil", 0xE7},  {"uuml", 0xFC},
    {"ouml", 0xF6},    {"auml", 0xE4},    {"Uuml", 0xDC},    {"Ouml", 0xD6},    {"Auml", 0xC4},
    {"szlig", 0xDF},   {"ntilde", 0xF1},  {"shy", 0xAD},     {"zwnj", 0x200C},  {"ecirc", 0xEA}};

// Decodes the character reference at html[pos] == '&' into out; returns the bytes consumed, or 0
// when it is not one (the '&' then stands for itself).
std::size_t DecodeReference(std::string_view html, std::size_t pos, std::string& out) {
  std::size_t p = pos + 1;
  if (p < html.size() && html[p] == '#') {
    ++p;
    const bool hex = p < html.size() && (html[p] == 'x' || html[p] == 'X');
    if (hex) ++p;
    char32_t code = 0;
    std::size_t digits = 0;
    for (; p < html.size() && digits < 8; ++p, ++digits) {
      const char c = html[p];
      int v;
      if (c >= '0' && c <= '9')
        v = c - '0';
      else if (hex && Lower(c) >= 'a' && Lower(c) <= 'f')
        v = Lower(c) - 'a' + 10;
      else
        break;
      code = code * (hex ? 16 : 10) + static_cast<char32_t>(v);
    }
    if (digits == 0) return 0;
    if (p < html.size() && html[p] == ';') ++p;
    AppendUtf8(out, code);
    return p - pos;
  }
  std::size_t end = p;
  while (end < html.size() && end - p < 10 && IsNameChar(html[end])) ++end;
  const std::string_view name = html.substr(p, end - p);
  for (const NamedEntity& e : kEntities) {
    if (e.name == name) {
      AppendUtf8(out, e.code);
      return end - pos + (end < html.size() && html[end] == ';' ? 1 : 0);
    }
  }
  return 0;
}

// Builds the text: collapses white space and keeps at most one empty line between blocks.
class TextSink {
 public:
  void Text(std::string_view s, bool pre) {
    for (const char c : s) {
      if (pre) {
        if (c == '\r') continue;
        if (c == '\n') {
          LineBreak();
          continue;
        }
        Char(c);
      } else if (IsSpace(c)) {
        pending_space_ = !line_.empty();
      } else {
        Char(c);
      }
    }
  }
  void Char(char c) {
    if (pending_space_) line_ += ' ';
    pending_space_ = false;
    line_ += c;
  }
  void Decoded(std::string_view s) {
    for (const char c : s) Char(c);
  }
  // The end of a block: ends the line being built, if any.
  void EndLine() {
    pending_space_ = false;
    if (line_.empty()) return;
    out_ += line_;
    out_ += "\r\n";
    line_.clear();
    blank_lines_ = 0;
  }
  // <br> and a line break in <pre>: always a new line, so two make an empty one.
  void LineBreak() {
    if (!line_.empty()) return EndLine();
    AddBlankLine();
  }
  // Between paragraphs and headings: one empty line.
  void Paragraph() {
    EndLine();
    AddBlankLine();
  }
  std::string Finish() {
    EndLine();
    while (blank_lines_ > 0) {
      out_.resize(out_.size() - 2);
      --blank_lines_;
    }
    return std::move(out_);
  }

 private:
  void AddBlankLine() {
    if (out_.empty() || blank_lines_ >= 1) return;
    out_ += "\r\n";
    ++blank_lines_;
  }

  std::string out_;
  std::string line_;
  bool pending_space_ = false;
  int blank_lines_ = 0;  // empty lines at the end of out_
};

// Finds "</name" (any case) from pos; npos when the element is never closed.
std::size_t FindClose(std::string_view html, std::size_t pos, std::string_view name) {
  while (true) {
    pos = html.find("</", pos);
    if (pos == std::string_view::npos) return pos;
    std::size_t i = 0;
    while (i < name.size() && pos + 2 + i < html.size() && Lower(html[pos + 2 + i]) == name[i]) ++i;
    if (i == name.size() && (pos + 2 + i >= html.size() || !IsNameChar(html[pos + 2 + i])))
      return pos;
    pos += 2;
  }
}

// Just past the '>' that ends a tag whose attributes start at pos, or npos when none does. A
// quoted attribute value is skipped whole: title="a > b" holds a '>' that ends nothing.
std::size_t TagEnd(std::string_view html, std::size_t pos) {
  while (pos < html.size()) {
    const char c = html[pos++];
    if (c == '>') return pos;
    if (c != '=') continue;  // names, blanks, '/'
    while (pos < html.size() && IsSpace(html[pos])) ++pos;
    if (pos < html.size() && (html[pos] == '"' || html[pos] == '\'')) {
      const std::size_t close = html.find(html[pos], pos + 1);
      if (close == std::string_view::npos) return close;
      pos = close + 1;
    } else {
      while (pos < html.size() && !IsSpace(html[pos]) && html[pos] != '>') ++pos;
    }
  }
  return std::string_view::npos;
}

}  // namespace

std::string HtmlToText(std::string_view html) {
  TextSink sink;
  int pre = 0;
  std::size_t pos = 0;
  std::string decoded;
  while (pos < html.size()) {
    const std::size_t special = html.find_first_of("<&", pos);
    sink.Text(html.substr(pos, special == std::string_view::npos ? special : special - pos),
              pre > 0);
    if (special == std::string_view::npos) break;
    pos = special;
    if (html[pos] == '&') {
      decoded.clear();
      const std::size_t used = DecodeReference(html, pos, decoded);
      sink.Decoded(used == 0 ? std::string_view("&") : std::string_view(decoded));
      pos += used == 0 ? 1 : used;
      continue;
    }
    // A comment, a declaration or a tag.
    if (html.compare(pos, 4, "<!--") == 0) {
      const std::size_t end = html.find("-->", pos + 4);
      pos = end == std::string_view::npos ? html.size() : end + 3;
      continue;
    }
    std::size_t p = pos + 1;
    const bool closing = p < html.size() && html[p] == '/';
    if (closing) ++p;
    const std::size_t name_start = p;
    while (p < html.size() && IsNameChar(html[p]) && p - name_start < 16) ++p;
    if (p == name_start && !(p < html.size() && (html[p] == '!' || html[p] == '?'))) {
      sink.Decoded("<");  // a lone '<' in text
      ++pos;
      continue;
    }
    std::string name;
    for (std::size_t i = name_start; i < p; ++i) name += Lower(html[i]);
    const std::size_t end = TagEnd(html, p);
    pos = end == std::string_view::npos ? html.size() : end;
    if (!closing && IsHiddenElement(name)) {
      const std::size_t close = FindClose(html, pos, name);
      if (close == std::string_view::npos) break;
      const std::size_t close_end = html.find('>', close);
      pos = close_end == std::string_view::npos ? html.size() : close_end + 1;
      continue;
    }
    if (name == "pre") pre += closing ? (pre > 0 ? -1 : 0) : 1;
    const bool heading = name.size() == 2 && name[0] == 'h' && name[1] >= '1' && name[1] <= '6';
    if (name == "br") {
      sink.LineBreak();
    } else if (name == "p" || heading || name == "blockquote") {
      sink.Paragraph();
    } else if (IsBlockElement(name)) {
      sink.EndLine();
    } else if (name == "td" || name == "th") {
      if (!closing) sink.Text(" ", false);
    }
  }
  return sink.Finish();
}

}  // namespace dovrik::mime
