#include "settings/registry_text.h"

#include <algorithm>

namespace dovrik {
namespace {

unsigned char Fold(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return (u >= 'A' && u <= 'Z') ? static_cast<unsigned char>(u + ('a' - 'A')) : u;
}

bool IsControl(unsigned char u) {
  return u < 0x20 || u == 0x7f;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Length of the well-formed UTF-8 sequence starting at text[i], or 0.
std::size_t Utf8Length(std::string_view text, std::size_t i) {
  auto at = [&](std::size_t k) -> unsigned { return static_cast<unsigned char>(text[k]); };
  const unsigned c = at(i);
  std::size_t len;
  unsigned lo = 0x80, hi = 0xbf;  // bounds of the second byte
  if (c >= 0xc2 && c <= 0xdf) {
    len = 2;
  } else if (c >= 0xe0 && c <= 0xef) {
    len = 3;
    if (c == 0xe0) lo = 0xa0;
    if (c == 0xed) hi = 0x9f;  // no surrogates
  } else if (c >= 0xf0 && c <= 0xf4) {
    len = 4;
    if (c == 0xf0) lo = 0x90;
    if (c == 0xf4) hi = 0x8f;
  } else {
    return 0;
  }
  if (i + len > text.size()) return 0;
  if (at(i + 1) < lo || at(i + 1) > hi) return 0;
  for (std::size_t k = 2; k < len; ++k) {
    if (at(i + k) < 0x80 || at(i + k) > 0xbf) return 0;
  }
  return len;
}

void AppendEscaped(std::string_view in, std::string& out) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.push_back('"');
  for (std::size_t i = 0; i < in.size();) {
    const char c = in[i];
    const unsigned char u = static_cast<unsigned char>(c);
    switch (c) {
      case '\\':
        out += "\\\\";
        ++i;
        continue;
      case '"':
        out += "\\\"";
        ++i;
        continue;
      case '\r':
        out += "\\r";
        ++i;
        continue;
      case '\n':
        out += "\\n";
        ++i;
        continue;
      case '\t':
        out += "\\t";
        ++i;
        continue;
      default:
        break;
    }
    std::size_t len = 1;
    if (u >= 0x80) len = Utf8Length(in, i);
    if (IsControl(u) || len == 0) {
      out += "\\x";
      out.push_back(kHex[u >> 4]);
      out.push_back(kHex[u & 0xf]);
      ++i;
    } else {
      out.append(in.substr(i, len));
      i += len;
    }
  }
  out.push_back('"');
}

// Checks a quoted text starting at line[pos] == '"'; returns the index after the closing quote.
std::size_t ScanQuoted(std::string_view line, std::size_t pos) {
  for (std::size_t i = pos + 1; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '"') return i + 1;
    if (c == '\\') {
      if (i + 1 >= line.size()) return std::string_view::npos;
      const char e = line[i + 1];
      if (e == '\\' || e == '"' || e == 'r' || e == 'n' || e == 't') {
        i += 1;
      } else if (e == 'x' && i + 3 < line.size() && HexDigit(line[i + 2]) >= 0 &&
                 HexDigit(line[i + 3]) >= 0) {
        i += 3;
      } else {
        return std::string_view::npos;
      }
    } else if (c != '\t' && IsControl(static_cast<unsigned char>(c))) {
      return std::string_view::npos;
    }
  }
  return std::string_view::npos;
}

// raw: the inside of a quoted text already checked by ScanQuoted.
void Unescape(std::string_view raw, std::string& out) {
  out.clear();
  out.reserve(raw.size());
  for (std::size_t i = 0; i < raw.size(); ++i) {
    const char c = raw[i];
    if (c != '\\') {
      out.push_back(c);
      continue;
    }
    const char e = raw[++i];
    switch (e) {
      case 'r':
        out.push_back('\r');
        break;
      case 'n':
        out.push_back('\n');
        break;
      case 't':
        out.push_back('\t');
        break;
      case 'x':
        out.push_back(static_cast<char>(HexDigit(raw[i + 1]) * 16 + HexDigit(raw[i + 2])));
        i += 2;
        break;
      default:
        out.push_back(e);
        break;  // backslash or quote
    }
  }
}

struct Line {
  enum Kind : std::uint8_t { kSkip, kKey, kValue, kBad } kind = kBad;
  std::string_view path;      // kKey
  std::string_view raw_name;  // kValue, escaped; empty for the unnamed value "@"
  RegType type = RegType::kString;
  std::string_view raw_text;  // kValue string, escaped
  std::uint32_t dword = 0;
};

Line ParseLine(std::string_view s) {
  Line line;
  if (s.empty() || s.front() == ';') {
    line.kind = Line::kSkip;
    return line;
  }
  if (s.front() == '[') {
    if (s.size() < 3 || s.back() != ']') return line;
    line.path = s.substr(1, s.size() - 2);
    if (!IsValidRegPath(line.path)) return line;
    line.kind = Line::kKey;
    return line;
  }
  std::size_t pos;
  if (s.starts_with("@=")) {
    pos = 1;
  } else if (s.front() == '"') {
    pos = ScanQuoted(s, 0);
    if (pos == std::string_view::npos || pos >= s.size() || s[pos] != '=') return line;
    line.raw_name = s.substr(1, pos - 2);
  } else {
    return line;
  }
  std::string_view data = s.substr(pos + 1);
  if (!data.empty() && data.front() == '"') {
    if (ScanQuoted(data, 0) != data.size()) return line;
    line.type = RegType::kString;
    line.raw_text = data.substr(1, data.size() - 2);
  } else if (data.starts_with("dword:")) {
    std::string_view hex = data.substr(6);
    if (hex.empty() || hex.size() > 8) return line;
    std::uint32_t v = 0;
    for (char c : hex) {
      const int d = HexDigit(c);
      if (d < 0) return line;
      v = (v << 4) | static_cast<std::uint32_t>(d);
    }
    line.type = RegType::kDword;
    line.dword = v;
  } else {
    return line;
  }
  line.kind = Line::kValue;
  return line;
}

// Calls on_line for every line after the header; false when the text is not a store.
template <typename OnLine>
bool ForEachLine(std::string_view text, OnLine on_line) {
  bool first = true;
  while (!text.empty()) {
    const std::size_t nl = text.find('\n');
    std::string_view s = text.substr(0, nl);
    text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
    if (!s.empty() && s.back() == '\r') s.remove_suffix(1);
    if (first) {
      if (s != kRegTextHeader) return false;
      first = false;
      continue;
    }
    const Line line = ParseLine(s);
    if (line.kind == Line::kBad) return false;
    if (line.kind != Line::kSkip && !on_line(line)) return false;
  }
  return true;
}

bool IsUnder(std::string_view path, std::string_view ancestor) {
  return path.size() > ancestor.size() && path[ancestor.size()] == '\\' &&
         RegNameEqual(path.substr(0, ancestor.size()), ancestor);
}

}  // namespace

bool RegNameEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Fold(a[i]) != Fold(b[i])) return false;
  }
  return true;
}

bool RegPathLess(std::string_view a, std::string_view b) {
  // The separator maps below every other byte, which makes the order component-wise.
  auto key = [](char c) -> unsigned { return c == '\\' ? 0u : Fold(c); };
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [&](char x, char y) { return key(x) < key(y); });
}

bool IsValidRegPath(std::string_view path) {
  if (path.empty() || path.front() == '\\' || path.back() == '\\') return false;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (IsControl(static_cast<unsigned char>(path[i]))) return false;
    if (path[i] == '\\' && path[i + 1] == '\\') return false;
  }
  return true;
}

std::optional<RegDocument> ParseRegText(std::string_view text) {
  RegDocument doc;
  RegKey* current = nullptr;
  bool sorted = true;
  const bool ok = ForEachLine(text, [&](const Line& line) {
    if (line.kind == Line::kKey) {
      if (!doc.empty() && !RegPathLess(doc.back().path, line.path)) sorted = false;
      doc.push_back(RegKey{std::string(line.path), {}});
      current = &doc.back();
      return true;
    }
    if (current == nullptr) return false;  // a value before any key
    RegValue value;
    Unescape(line.raw_name, value.name);
    value.type = line.type;
    if (line.type == RegType::kString) {
      Unescape(line.raw_text, value.text);
    } else {
      value.dword = line.dword;
    }
    SetRegValue(*current, std::move(value));
    return true;
  });
  if (!ok) return std::nullopt;
  if (!sorted) {
    // A hand-edited file: order the keys and merge repeated sections, later values winning.
    std::stable_sort(doc.begin(), doc.end(),
                     [](const RegKey& a, const RegKey& b) { return RegPathLess(a.path, b.path); });
    RegDocument merged;
    for (RegKey& key : doc) {
      if (!merged.empty() && RegNameEqual(merged.back().path, key.path)) {
        for (RegValue& v : key.values) SetRegValue(merged.back(), std::move(v));
      } else {
        merged.push_back(std::move(key));
      }
    }
    doc = std::move(merged);
  }
  return doc;
}

std::string FormatRegText(const RegDocument& doc) {
  std::string out;
  out.reserve(64 + doc.size() * 96);
  out += kRegTextHeader;
  out += '\n';
  for (const RegKey& key : doc) {
    out += "\n[";
    out += key.path;
    out += "]\n";
    for (const RegValue& v : key.values) {
      if (v.name.empty()) {
        out += '@';
      } else {
        AppendEscaped(v.name, out);
      }
      out += '=';
      if (v.type == RegType::kString) {
        AppendEscaped(v.text, out);
      } else {
        static constexpr char kHex[] = "0123456789abcdef";
        out += "dword:";
        for (int shift = 28; shift >= 0; shift -= 4) out.push_back(kHex[(v.dword >> shift) & 0xf]);
      }
      out += '\n';
    }
  }
  return out;
}

std::string QuoteRegText(std::string_view text) {
  std::string out;
  AppendEscaped(text, out);
  return out;
}

RegLookup FindRegValue(std::string_view text, std::string_view key_path, std::string_view name,
                       RegValue& out) {
  bool key_seen = false, found = false, in_key = false, have_key = false;
  std::string scratch;
  const bool ok = ForEachLine(text, [&](const Line& line) {
    if (line.kind == Line::kKey) {
      have_key = true;
      in_key = RegNameEqual(line.path, key_path);
      if (in_key || IsUnder(line.path, key_path)) key_seen = true;
      return true;
    }
    if (!have_key) return false;
    if (!in_key) return true;
    Unescape(line.raw_name, scratch);
    if (!RegNameEqual(scratch, name)) return true;
    found = true;
    out.name = scratch;
    out.type = line.type;
    out.dword = line.dword;
    if (line.type == RegType::kString) {
      Unescape(line.raw_text, out.text);
    } else {
      out.text.clear();
    }
    return true;
  });
  if (!ok) return RegLookup::kCorrupt;
  if (found) return RegLookup::kFound;
  return key_seen ? RegLookup::kNoValue : RegLookup::kNoKey;
}

RegKey* FindRegKey(RegDocument& doc, std::string_view path) {
  auto it = std::lower_bound(doc.begin(), doc.end(), path, [](const RegKey& k, std::string_view p) {
    return RegPathLess(k.path, p);
  });
  return (it != doc.end() && RegNameEqual(it->path, path)) ? &*it : nullptr;
}

bool RegKeyExists(const RegDocument& doc, std::string_view path) {
  // Sorted order puts the key itself, or else its first descendant, at the lower bound.
  auto it = std::lower_bound(doc.begin(), doc.end(), path, [](const RegKey& k, std::string_view p) {
    return RegPathLess(k.path, p);
  });
  return it != doc.end() && (RegNameEqual(it->path, path) || IsUnder(it->path, path));
}

RegKey& FindOrAddRegKey(RegDocument& doc, std::string_view path) {
  // Every ancestor below the hive is listed too, as creating a key does in the registry.
  std::size_t end = path.find('\\');
  if (end != std::string_view::npos) end = path.find('\\', end + 1);
  for (;;) {
    const std::string_view prefix = path.substr(0, end);
    if (FindRegKey(doc, prefix) == nullptr) {
      auto it = std::lower_bound(
          doc.begin(), doc.end(), prefix,
          [](const RegKey& k, std::string_view p) { return RegPathLess(k.path, p); });
      doc.insert(it, RegKey{std::string(prefix), {}});
    }
    if (end == std::string_view::npos) break;
    end = path.find('\\', end + 1);
  }
  return *FindRegKey(doc, path);
}

void SetRegValue(RegKey& key, RegValue value) {
  for (RegValue& v : key.values) {
    if (RegNameEqual(v.name, value.name)) {
      v.type = value.type;
      v.text = std::move(value.text);
      v.dword = value.dword;
      return;
    }
  }
  key.values.push_back(std::move(value));
}

}  // namespace dovrik
