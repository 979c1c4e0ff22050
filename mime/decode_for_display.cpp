#include <gmime/gmime.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>

#include "mime/charset_text.h"
#include "mime/display_message.h"
#include "mime/flowed_text.h"
#include "mime/gmime_init.h"
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

// One line of header text: unfolded, encoded words decoded, valid UTF-8, no control characters.
std::string DecodeHeaderValue(const char* raw) {
  if (raw == nullptr) return {};
  std::string unfolded;
  const std::size_t length = strnlen(raw, kMaxHeaderLine);
  unfolded.reserve(length);
  for (std::size_t i = 0; i < length; ++i)
    if (raw[i] != '\r' && raw[i] != '\n') unfolded += raw[i];
  const GChars decoded(g_mime_utils_header_decode_text(DisplayParserOptions(), unfolded.c_str()));
  std::string text = decoded ? std::string(decoded.get()) : std::string();
  if (!IsUtf8(text)) text = Utf8OrWindows1252(text);
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  return std::string(platform::TrimBlanks(text));
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

// 1 for the characters of the base64 alphabet: a table, as random data defeats branch prediction.
constexpr auto kBase64Alphabet = [] {
  std::array<std::uint8_t, 256> table{};
  for (const char c :
       std::string_view("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"))
    table[static_cast<unsigned char>(c)] = 1;
  return table;
}();

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

// Walks the part tree: the parts that make up the text, and every other leaf as an attachment.
class PartWalk {
 public:
  void Visit(GMimeObject* object, int depth) {
    if (object == nullptr || depth > kMaxDepth) return;
    if (GMIME_IS_MULTIPART(object)) {
      GMimeMultipart* multipart = GMIME_MULTIPART(object);
      const int count = g_mime_multipart_get_count(multipart);
      if (IsType(object, "multipart", "alternative")) {
        Visit(ChooseAlternative(multipart), depth + 1);
        return;
      }
      for (int i = 0; i < count; ++i) Visit(g_mime_multipart_get_part(multipart, i), depth + 1);
      return;
    }
    // The first text part is the body; later inline plain text without a name (a list's
    // footer, say) is added to it; everything else is listed.
    if (IsTextCandidate(object)) {
      const bool plain = IsType(object, "text", "plain");
      if (body_.empty() || (plain && !Named(object))) {
        body_.push_back(object);
        return;
      }
    }
    leaves_.push_back(object);
  }

  void Finish(DisplayMessage& out) {
    for (GMimeObject* part : body_) {
      if (!out.text.empty()) out.text += "\r\n";
      out.text += ReadableText(part);
    }
    out.text_from_html = !body_.empty() && IsType(body_.front(), "text", "html");
    for (GMimeObject* leaf : leaves_) out.attachments.push_back(Describe(leaf));
  }

 private:
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
    if (name != nullptr) a.name = DecodeHeaderValue(name);
    GMimeContentType* ct = g_mime_object_get_content_type(leaf);
    if (ct != nullptr) {
      const GChars type(g_mime_content_type_get_mime_type(ct));
      if (type) a.type = Utf8OrWindows1252(Lowered(type.get()));
    }
    a.size = DecodedSize(leaf);
    return a;
  }

  std::vector<GMimeObject*> body_;
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
  GMimeStream* get() const { return stream_.get(); }

 private:
  GByteArray* array_;
  GRef<GMimeStream> stream_;
};

// The message as one stream: the bytes themselves, or its pieces joined without a copy.
GRef<GMimeStream> MessageStream(const PreparedInput& input, GMimeStream* base) {
  const auto& pieces = input.pieces();
  if (pieces.size() == 1 && pieces[0].first == 0 && pieces[0].second == input.base().size())
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
  if (input.base().empty()) return out;
  GMimeParserOptions* options = DisplayParserOptions();
  const BorrowedStream base(input.base());
  const GRef<GMimeStream> stream = MessageStream(input, base.get());
  const GRef<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
  const GRef<GMimeMessage> message(g_mime_parser_construct_message(parser.get(), options));
  if (!message) {
    out.text = CrLfLines(Utf8OrWindows1252(input.bytes()));
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
  return out;
}

}  // namespace dovrik::mime
