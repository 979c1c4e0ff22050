// Decoding a received message for display: header values, the readable text and the list of
// attachments, all as UTF-8. The raw message is never changed; this is a view of it.
//
// Plain functions without shared state: callable from any thread at once (GMime is started once
// per process behind the scenes). Never throws on bad input: whatever cannot be read is left out
// or shown as it stands, and the work stays linear in the size of the input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace dovrik::mime {

// How the bytes given to DecodeForDisplay are framed.
enum class Framing {
  kMessage,    // a message as stored (header block, empty line, body)
  kPop3Reply,  // the whole reply to RETR: "+OK" status line, dot-stuffed lines, final "." line
};

struct Attachment {
  std::string name;        // decoded file name (RFC 2231 or encoded words); empty when none
  std::string type;        // "type/subtype", lower case
  std::uint64_t size = 0;  // bytes after the transfer encoding is undone
};

struct DisplayMessage {
  // The message declares MIME (MIME-Version, Content-Type or Content-Transfer-Encoding in its
  // header block) or its From, To, Subject or Date holds "=?" (encoded words). When false nothing
  // needed decoding: a caller may keep showing the message as plain text.
  bool is_mime = false;
  std::string from, to, subject, date;  // decoded, unfolded, one line each
  std::string text;                     // the readable body; every line ended by CR LF
  bool text_from_html = false;          // text is the rendering of an HTML-only message
  std::vector<Attachment> attachments;  // in the order of the message
  // The message has more than kMaxParts parts; those past the limit are neither in text nor in
  // attachments, and text ends with kPartsNotShown.
  bool parts_cut = false;
};

DisplayMessage DecodeForDisplay(std::string_view raw, Framing framing = Framing::kMessage);

// What DecodeForDisplay reports as is_mime, found cheaply: reads the header block only.
bool IsMimeMessage(std::string_view raw, Framing framing = Framing::kMessage);

// Limits on the work done for one message (see prepared_input.h for how they are applied).
inline constexpr std::size_t kMaxHeaderLine = 64 * 1024;  // bytes kept of one header field
inline constexpr int kMaxContainers = 32;      // multipart and message/* parts parsed as such
inline constexpr int kMaxDepth = 32;           // nesting levels walked for text and attachments
inline constexpr int kMaxParts = 1000;         // parts read; real mail has a few dozen at most
inline constexpr int kMaxHeaderFields = 1000;  // fields read of one header block; real: < 100
// The line that ends text when parts were left out.
inline constexpr const char* kPartsNotShown = "[More parts of this message are not shown.]\r\n";

}  // namespace dovrik::mime
