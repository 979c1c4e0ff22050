#include "mime/encode_outgoing.h"

#include <gmime/gmime.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "mime/charset_text.h"
#include "mime/gmime_init.h"
#include "platform/trim.h"

namespace dovrik::mime {
namespace {

constexpr std::size_t kFoldWidth = 78;
constexpr std::size_t kMaxLine = 998;  // characters a line may hold on the wire, CR LF aside

struct GFree {
  void operator()(gpointer p) const { g_free(p); }
};
using GChars = std::unique_ptr<char, GFree>;

bool IsSevenBit(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// A body line (after the first empty line) longer than the wire allows.
bool HasOverlongBodyLine(std::string_view text) {
  std::size_t pos = 0;
  bool body = false;
  while (pos < text.size()) {
    std::size_t nl = text.find('\n', pos);
    if (nl == std::string_view::npos) nl = text.size();
    std::size_t length = nl - pos;
    if (length > 0 && text[nl - 1] == '\r') --length;
    if (body && length > kMaxLine) return true;
    if (length == 0) body = true;
    pos = nl + 1;
  }
  return false;
}

std::string Lowered(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

// "Name: word word ..." folded at blanks into lines of at most kFoldWidth characters where the
// words allow it; every line ends with CR LF.
std::string Folded(std::string_view name, std::string_view value) {
  std::string out(name);
  if (!name.empty()) out += ':';
  std::size_t line_length = out.size();
  std::size_t pos = 0;
  while (pos < value.size()) {
    std::size_t end = value.find(' ', pos);
    if (end == std::string_view::npos) end = value.size();
    const std::string_view word = value.substr(pos, end - pos);
    pos = end + 1;
    if (word.empty()) continue;
    if (line_length + 1 + word.size() > kFoldWidth && line_length > name.size() + 1) {
      out += "\r\n";
      line_length = 0;
    }
    if (!out.empty() && out.back() != '\n') {
      out += ' ';
      ++line_length;
    } else if (line_length == 0 && !out.empty()) {
      out += ' ';  // a continuation line starts with a blank
      ++line_length;
    }
    out += word;
    line_length += word.size();
  }
  out += "\r\n";
  return out;
}

// The value as one line: folding removed, blanks at both ends trimmed.
std::string Unfolded(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (const char c : value)
    if (c != '\r' && c != '\n') out += c;
  return std::string(platform::TrimWhere(out, platform::IsSpaceOrTab));
}

std::string EncodedText(std::string_view value) {
  const std::string text = Unfolded(value);
  const GChars encoded(
      g_mime_utils_header_encode_text(g_mime_format_options_get_default(), text.c_str(), "UTF-8"));
  return encoded ? std::string(encoded.get()) : text;
}

// Address lists keep their addresses as they are; only the display names are encoded.
std::string EncodedAddresses(std::string_view value) {
  const std::string text = Unfolded(value);
  InternetAddressList* list = internet_address_list_parse(DisplayParserOptions(), text.c_str());
  if (list == nullptr) return EncodedText(value);
  std::string result;
  const int count = internet_address_list_length(list);
  for (int i = 0; i < count; ++i)
    internet_address_set_charset(internet_address_list_get_address(list, i), "UTF-8");
  if (count > 0) {
    const GChars encoded(
        internet_address_list_to_string(list, g_mime_format_options_get_default(), TRUE));
    if (encoded && IsSevenBit(encoded.get())) result = encoded.get();
  }
  g_object_unref(list);
  return result.empty() ? EncodedText(value) : result;
}

std::string QuotedPrintable(std::string_view body) {
  std::string lf;  // the encoder breaks hard lines at LF
  lf.reserve(body.size());
  for (std::size_t i = 0; i < body.size(); ++i) {
    if (body[i] == '\r' && i + 1 < body.size() && body[i + 1] == '\n') continue;
    lf += body[i] == '\r' ? '\n' : body[i];
  }
  GMimeEncoding state;
  g_mime_encoding_init_encode(&state, GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE);
  std::string encoded(g_mime_encoding_outlen(&state, lf.size()), '\0');
  encoded.resize(g_mime_encoding_flush(&state, lf.data(), lf.size(), encoded.data()));
  std::string out;
  out.reserve(encoded.size() + encoded.size() / 32);
  for (const char c : encoded) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

struct Field {
  std::string name;
  std::string value;  // after the colon, continuation lines joined with their line breaks
  bool has_colon = true;
};

}  // namespace

std::string EncodeOutgoing(std::string_view composed) {
  if (IsSevenBit(composed) && !HasOverlongBodyLine(composed)) return std::string(composed);
  EnsureGMime();
  const std::string text = Utf8OrWindows1252(composed);
  const std::string_view all(text);
  // The header block: up to the first empty line.
  std::vector<Field> fields;
  std::size_t pos = 0;
  bool has_body = false;
  while (pos < all.size()) {
    const std::size_t nl = all.find('\n', pos);
    std::string_view line = all.substr(pos, nl == std::string_view::npos ? nl : nl - pos);
    pos = nl == std::string_view::npos ? all.size() : nl + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) {
      has_body = true;
      break;
    }
    if ((line.front() == ' ' || line.front() == '\t') && !fields.empty()) {
      fields.back().value += "\r\n";
      fields.back().value += line;
      continue;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || !IsSevenBit(line.substr(0, colon)))
      fields.push_back({std::string(line), {}, false});  // kept as it stands
    else
      fields.push_back(
          {std::string(line.substr(0, colon)), std::string(line.substr(colon + 1)), true});
  }
  std::string out;
  out.reserve(text.size() * 3 / 2 + 256);
  bool has_type = false, has_version = false;
  const std::string declared_encoding = "Content-Transfer-Encoding: quoted-printable\r\n";
  for (const Field& field : fields) {
    const std::string name = Lowered(platform::TrimWhere(field.name, platform::IsSpaceOrTab));
    if (!field.has_colon) {  // not a header field; kept, in 7 bits
      out += IsSevenBit(field.name) ? field.name + "\r\n" : Folded({}, EncodedText(field.name));
      continue;
    }
    if (name == "content-transfer-encoding") continue;  // replaced below
    if (name == "mime-version") has_version = true;
    if (name == "content-type") {
      has_type = true;
      // The body goes out as UTF-8 text, whatever the parameters said before.
      const std::string_view value(field.value);
      std::string type = Unfolded(value.substr(0, value.find(';')));
      if (type.empty() || !IsSevenBit(type)) type = "text/plain";
      out += field.name + ": " + type + "; charset=UTF-8\r\n" + declared_encoding;
    } else if (IsSevenBit(field.value)) {
      out += field.name + ':' + field.value + "\r\n";
    } else if (name == "from" || name == "to" || name == "cc" || name == "reply-to") {
      out += Folded(field.name, EncodedAddresses(field.value));
    } else {
      out += Folded(field.name, EncodedText(field.value));
    }
  }
  if (!has_type) {
    if (!has_version) out += "MIME-Version: 1.0\r\n";
    out += "Content-Type: text/plain; charset=UTF-8\r\n" + declared_encoding;
  }
  out += "\r\n";
  if (has_body) out += QuotedPrintable(all.substr(pos));
  return out;
}

}  // namespace dovrik::mime
