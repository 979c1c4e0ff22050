#include <gmime/gmime.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>

#include "mime/charset_text.h"
#include "mime/display_message.h"
#include "mime/flowed_text.h"
#include "mime/gmime_init.h"
#include "mime/header_text.h"
#include "mime/html_text.h"
#include "mime/prepared_input.h"
#include "platform/trim.h"

namespace dovrik::mime {
namespace {

struct GObjectUnref {
  void operator()(gpointer object) const {
    if (object != nullptr) g_object_unref(object);
  }
};
template <typename T>
using GRef = std::unique_ptr<T, GObjectUnref>;

struct GFree {
  void operator()(gpointer p) const { g_free(p); }
};
using GChars = std::unique_ptr<char, GFree>;

// 1 for the characters of the base64 alphabet: a table, as random data defeats branch prediction.
constexpr auto kBase64Alphabet = [] {
  std::array<std::uint8_t, 256> table{};
  for (const char c :
       std::string_view("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"))
    table[static_cast<unsigned char>(c)] = 1;
  return table;
}();

// The value of each base64 character, -1 for the others.
constexpr auto kBase64Values = [] {
  std::array<std::int8_t, 256> table{};
  table.fill(-1);
  std::int8_t value = 0;
  for (const char c :
       std::string_view("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"))
    table[static_cast<unsigned char>(c)] = value++;
  return table;
}();

// The bytes of base64 text, padding or not: "w6nDqQ" is as good as "w6nDqQ==".
std::string FromBase64(std::string_view text) {
  std::string out;
  std::uint32_t bits = 0;
  int count = 0;
  for (const char c : text) {
    if (c == '=') break;
    const auto value = kBase64Values[static_cast<unsigned char>(c)];
    if (value < 0) continue;
    bits = (bits << 6) | static_cast<std::uint32_t>(value);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out += static_cast<char>((bits >> count) & 0xFF);
    }
  }
  return out;
}

// Encoded words in base64 rewritten as the same bytes in Q. The decoder joins the base64 of
// neighbouring words before decoding it, so padding inside the join ends the text there
// ("=?UTF-8?B?YWI=?= =?UTF-8?B?YWJj?=" showed "ab"), and a word without its padding loses its
// last character. Q has neither fault; joining the words' bytes still mends characters split
// across words.
void Base64WordsAsQ(std::string& text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  std::size_t done = 0;  // text before this is in out
  std::size_t from = 0;
  for (std::size_t open; (open = text.find("=?", from)) != std::string::npos;) {
    const std::size_t charset_end = text.find('?', open + 2);
    if (charset_end == std::string::npos) break;
    if (charset_end + 2 >= text.size() || text[charset_end + 2] != '?') {
      from = open + 2;
      continue;
    }
    const std::size_t data = charset_end + 3;
    const std::size_t close = text.find("?=", data);
    if (close == std::string::npos) break;
    from = close + 2;
    const char encoding = text[charset_end + 1];
    if (encoding != 'B' && encoding != 'b') continue;
    out.append(text, done, charset_end + 1 - done);
    out += "Q?";
    for (const char c : FromBase64(std::string_view(text).substr(data, close - data))) {
      const auto byte = static_cast<unsigned char>(c);
      if (g_ascii_isalnum(c)) {
        out += c;
      } else {
        out += '=';
        out += kHex[byte >> 4];
        out += kHex[byte & 0xF];
      }
    }
    done = close;
  }
  if (done == 0) return;
  out.append(text, done);
  text = std::move(out);
}

// One line of header text: unfolded, encoded words decoded, valid UTF-8, no control characters.
// A value longer than the header line cap is cut between characters and marked; the cap leaves
// room for the mark the prepared input puts where it cut a line.
std::string DecodeHeaderValue(const char* raw) {
  if (raw == nullptr) return {};
  constexpr std::size_t kCap = kMaxHeaderLine + 64;
  std::string_view value(raw, strnlen(raw, kCap + 1));
  const bool cut = value.size() > kCap;
  if (cut) value = value.substr(0, CutPoint(value, kCap));
  std::string unfolded;
  unfolded.reserve(value.size());
  for (const char c : value)
    if (c != '\r' && c != '\n') unfolded += c;
  Base64WordsAsQ(unfolded);
  const GChars decoded(g_mime_utils_header_decode_text(DisplayParserOptions(), unfolded.c_str()));
  std::string text = decoded ? std::string(decoded.get()) : std::string();
  if (!IsUtf8(text)) text = Utf8OrWindows1252(text);
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  text = std::string(platform::TrimBlanks(text));
  if (cut && !text.empty()) text += kCutMark;
  return text;
}

// Every line ended by CR LF, whatever ended it before.
std::string CrLfLines(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 32 + 2);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      out += "\r\n";
    } else {
      out += c;
    }
  }
  if (!out.empty() && out.back() != '\n') out += "\r\n";
  return out;
}

std::string Lowered(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// The content of a leaf with its transfer encoding undone.
std::string DecodedContent(GMimePart* part) {
  GMimeDataWrapper* content = g_mime_part_get_content(part);
  if (content == nullptr) return {};
  GByteArray* array = g_byte_array_new();
  const GRef<GMimeStream> sink(g_mime_stream_mem_new_with_byte_array(array));  // owns array
  g_mime_data_wrapper_write_to_stream(content, sink.get());
  return std::string(reinterpret_cast<const char*>(array->data), array->len);
}

// The decoded size of base64 content still lying in the message's own bytes, counted without
// decoding it (the bulk of a big message is attachments, and only their size is shown).
bool CountBase64(GMimePart* part, std::uint64_t& size) {
  if (g_mime_part_get_content_encoding(part) != GMIME_CONTENT_ENCODING_BASE64) return false;
  GMimeDataWrapper* content = g_mime_part_get_content(part);
  GMimeStream* stream = content != nullptr ? g_mime_data_wrapper_get_stream(content) : nullptr;
  if (stream == nullptr || !GMIME_IS_STREAM_MEM(stream)) return false;
  const GByteArray* array = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream));
  if (array == nullptr || stream->bound_start < 0) return false;
  const gint64 end = stream->bound_end < 0 ? array->len : stream->bound_end;
  if (end > static_cast<gint64>(array->len)) return false;
  std::uint64_t chars = 0;  // padding and anything else outside the alphabet is skipped
  const guint8* data = array->data;
  for (gint64 i = stream->bound_start; i < end; ++i) chars += kBase64Alphabet[data[i]];
  size = chars / 4 * 3 + (chars % 4 == 0 ? 0 : chars % 4 - 1);
  return true;
}

std::uint64_t DecodedSize(GMimeObject* object) {
  std::uint64_t counted = 0;
  if (GMIME_IS_PART(object) && CountBase64(GMIME_PART(object), counted)) return counted;
  const GRef<GMimeStream> counter(g_mime_stream_null_new());
  if (GMIME_IS_PART(object)) {
    GMimeDataWrapper* content = g_mime_part_get_content(GMIME_PART(object));
    if (content != nullptr) g_mime_data_wrapper_write_to_stream(content, counter.get());
  } else if (GMIME_IS_MESSAGE_PART(object)) {
    GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
    if (inner != nullptr)
      g_mime_object_write_to_stream(GMIME_OBJECT(inner), nullptr, counter.get());
  }
  return GMIME_STREAM_NULL(counter.get())->written;
}

bool IsType(GMimeObject* object, const char* type, const char* subtype) {
  GMimeContentType* ct = g_mime_object_get_content_type(object);
  return ct != nullptr && g_mime_content_type_is_type(ct, type, subtype);
}

bool IsAttachment(GMimeObject* object) {
  const char* disposition = g_mime_object_get_disposition(object);
  return disposition != nullptr && g_ascii_strcasecmp(disposition, "attachment") == 0;
}

bool IsTextCandidate(GMimeObject* object) {
  if (!GMIME_IS_PART(object) || IsAttachment(object)) return false;
  return IsType(object, "text", "plain") || IsType(object, "text", "html");
}

std::string ReadableText(GMimeObject* object) {
  const std::string bytes = DecodedContent(GMIME_PART(object));
  const std::string utf8 =
      TextToUtf8(bytes, g_mime_object_get_content_type_parameter(object, "charset"));
  if (IsType(object, "text", "html")) return HtmlToText(utf8);
  const char* format = g_mime_object_get_content_type_parameter(object, "format");
  if (format != nullptr && g_ascii_strcasecmp(format, "flowed") == 0) {
    const char* delsp = g_mime_object_get_content_type_parameter(object, "delsp");
    return JoinFlowed(utf8, delsp != nullptr && g_ascii_strcasecmp(delsp, "yes") == 0);
  }
  return CrLfLines(utf8);
}

// The part's own Content-Type holds "type/subtype". When it does not ("text", "/", a blank line)
// the parser makes the part application/octet-stream, but RFC 2045 reads such a part as plain
// text. Comments before the type are skipped as the parser does.
bool HasReadableType(GMimeObject* object) {
  GMimeHeader* header =
      g_mime_header_list_get_header(g_mime_object_get_header_list(object), "Content-Type");
  if (header == nullptr) return true;
  const char* raw = g_mime_header_get_raw_value(header);
  if (raw == nullptr) return false;
  std::string_view value(raw);
  const auto skip_space = [&value] {
    while (!value.empty()) {
      if (value.front() == '(') {
        const std::size_t close = value.find(')');
        value.remove_prefix(close == std::string_view::npos ? value.size() : close + 1);
      } else if (g_ascii_isspace(value.front())) {
        value.remove_prefix(1);
      } else {
        return;
      }
    }
  };
  const auto token = [&value] {
    std::size_t n = 0;
    while (n < value.size() && value[n] > ' ' && value[n] < 0x7F &&
           std::strchr("()<>@,;:\\\"/[]?=", value[n]) == nullptr)
      ++n;
    value.remove_prefix(n);
    return n > 0;
  };
  skip_space();
  if (!token()) return false;
  skip_space();
  if (value.empty() || value.front() != '/') return false;
  value.remove_prefix(1);
  skip_space();
  return token();
}

void MakePlainText(GMimeObject* object) {
  const char* charset = g_mime_object_get_content_type_parameter(object, "charset");
  const GRef<GMimeContentType> plain(g_mime_content_type_new("text", "plain"));
  if (charset != nullptr) g_mime_content_type_set_parameter(plain.get(), "charset", charset);
  g_mime_object_set_content_type(object, plain.get());
}

// Walks the part tree: the parts that make up the text, and every other leaf as an attachment.
class PartWalk {
 public:
  void Visit(GMimeObject* object, int depth) {
    if (object == nullptr || depth > kMaxDepth) return;
    if (GMIME_IS_MULTIPART(object)) {
      GMimeMultipart* multipart = GMIME_MULTIPART(object);
      if (g_mime_object_get_content_type_parameter(object, "boundary") == nullptr) {
        // Without a boundary there are no parts: the parser kept the whole body as prologue.
        const char* body = g_mime_multipart_get_prologue(multipart);
        if (body != nullptr && *body != '\0')
          body_.push_back({nullptr, CrLfLines(Utf8OrWindows1252(body))});
        return;
      }
      const int count = g_mime_multipart_get_count(multipart);
      if (IsType(object, "multipart", "alternative")) {
        Visit(ChooseAlternative(multipart), depth + 1);
        return;
      }
      for (int i = 0; i < count; ++i) Visit(g_mime_multipart_get_part(multipart, i), depth + 1);
      return;
    }
    if (GMIME_IS_PART(object) && !HasReadableType(object)) MakePlainText(object);
    // The first text part is the body; later inline plain text without a name (a list's
    // footer, say) is added to it; everything else is listed.
    if (IsTextCandidate(object)) {
      const bool plain = IsType(object, "text", "plain");
      if (body_.empty() || (plain && !Named(object))) {
        body_.push_back({object, {}});
        return;
      }
    }
    leaves_.push_back(object);
  }

  void Finish(DisplayMessage& out) {
    for (const BodyPiece& piece : body_) {
      if (!out.text.empty()) out.text += "\r\n";
      out.text += piece.part != nullptr ? ReadableText(piece.part) : piece.text;
    }
    out.text_from_html = !body_.empty() && body_.front().part != nullptr &&
                         IsType(body_.front().part, "text", "html");
    for (GMimeObject* leaf : leaves_) out.attachments.push_back(Describe(leaf));
  }

 private:
  struct BodyPiece {
    GMimeObject* part;  // null: the text is given
    std::string text;
  };

  static bool Named(GMimeObject* object) {
    return GMIME_IS_PART(object) && g_mime_part_get_filename(GMIME_PART(object)) != nullptr;
  }

  // Plain text first; else HTML; else the last alternative (the richest, by convention).
  static GMimeObject* ChooseAlternative(GMimeMultipart* multipart) {
    const int count = g_mime_multipart_get_count(multipart);
    GMimeObject* html = nullptr;
    for (int i = 0; i < count; ++i) {
      GMimeObject* part = g_mime_multipart_get_part(multipart, i);
      if (IsTextCandidate(part) && IsType(part, "text", "plain")) return part;
      if (html == nullptr && IsTextCandidate(part)) html = part;
    }
    if (html != nullptr) return html;
    return count > 0 ? g_mime_multipart_get_part(multipart, count - 1) : nullptr;
  }

  static Attachment Describe(GMimeObject* leaf) {
    Attachment a;
    const char* name = GMIME_IS_PART(leaf)
                           ? g_mime_part_get_filename(GMIME_PART(leaf))
                           : g_mime_object_get_content_disposition_parameter(leaf, "filename");
    if (name != nullptr) a.name = VisibleDirectionControls(DecodeHeaderValue(name));
    GMimeContentType* ct = g_mime_object_get_content_type(leaf);
    if (ct != nullptr) {
      const GChars type(g_mime_content_type_get_mime_type(ct));
      if (type) a.type = Utf8OrWindows1252(Lowered(type.get()));
    }
    a.size = DecodedSize(leaf);
    return a;
  }

  std::vector<BodyPiece> body_;
  std::vector<GMimeObject*> leaves_;
};

// The stream over bytes that stay the caller's: nothing is copied and nothing ever writes.
class BorrowedStream {
 public:
  explicit BorrowedStream(std::string_view bytes)
      : array_(g_byte_array_new_take(reinterpret_cast<guint8*>(const_cast<char*>(bytes.data())),
                                     bytes.size())),
        stream_(g_mime_stream_mem_new_with_byte_array(array_)) {
    g_mime_stream_mem_set_owner(GMIME_STREAM_MEM(stream_.get()), FALSE);
  }
  ~BorrowedStream() {
    stream_.reset();
    g_byte_array_free(array_, FALSE);  // the array only; the bytes are the caller's
  }
  BorrowedStream(const BorrowedStream&) = delete;
  BorrowedStream& operator=(const BorrowedStream&) = delete;
  GMimeStream* Get() const { return stream_.get(); }

 private:
  GByteArray* array_;
  GRef<GMimeStream> stream_;
};

// The message as one stream: the bytes themselves, or its pieces joined without a copy.
GRef<GMimeStream> MessageStream(const PreparedInput& input, GMimeStream* base) {
  const auto& pieces = input.Pieces();
  if (pieces.size() == 1 && pieces[0].first == 0 && pieces[0].second == input.Base().size())
    return GRef<GMimeStream>(GMIME_STREAM(g_object_ref(base)));
  GRef<GMimeStream> cat(g_mime_stream_cat_new());
  for (const auto& [offset, length] : pieces) {
    const GRef<GMimeStream> piece(g_mime_stream_substream(base, offset, offset + length));
    g_mime_stream_cat_add_source(GMIME_STREAM_CAT(cat.get()), piece.get());
  }
  return cat;
}

}  // namespace

DisplayMessage DecodeForDisplay(std::string_view raw, Framing framing) {
  DisplayMessage out;
  out.is_mime = IsMimeMessage(raw, framing);
  const PreparedInput input(raw, framing);
  if (input.Base().empty()) return out;
  GMimeParserOptions* options = DisplayParserOptions();
  const BorrowedStream base(input.Base());
  const GRef<GMimeStream> stream = MessageStream(input, base.Get());
  const GRef<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
  const GRef<GMimeMessage> message(g_mime_parser_construct_message(parser.get(), options));
  if (!message) {
    out.text = CrLfLines(Utf8OrWindows1252(input.Bytes()));
    return out;
  }
  GMimeHeaderList* headers = g_mime_object_get_header_list(GMIME_OBJECT(message.get()));
  const std::pair<const char*, std::string*> shown[] = {
      {"From", &out.from}, {"To", &out.to}, {"Subject", &out.subject}, {"Date", &out.date}};
  for (const auto& [name, value] : shown) {
    GMimeHeader* header = g_mime_header_list_get_header(headers, name);
    if (header == nullptr) continue;
    const char* raw_value = g_mime_header_get_raw_value(header);
    *value = DecodeHeaderValue(raw_value);
  }
  PartWalk walk;
  walk.Visit(g_mime_message_get_mime_part(message.get()), 0);
  walk.Finish(out);
  if (input.PartsCut()) {
    out.parts_cut = true;
    if (!out.text.empty()) out.text += "\r\n";
    out.text += kPartsNotShown;
  }
  return out;
}

}  // namespace dovrik::mime
