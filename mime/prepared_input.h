// The bytes the MIME parser is given: the message itself, framing removed, plus the few repairs
// that keep its work linear. Most messages need none and are parsed in place, without a copy.
//
// Repairs (each applied in one pass over the lines):
// - POP3 framing: the "+OK" status line and the reply's last line go, dot-stuffing is undone;
// - a message whose lines end in a lone CR gets CR LF line ends (the parser knows only LF);
// - a header line (of the message, of a part, of an enclosed message) longer than kMaxHeaderLine
//   is cut there (a 10 MB subject costs the parser time for nothing: no one reads it), between
//   two characters and before an encoded word the cut would leave unfinished, and the cut is
//   marked; folded lines past that size, and fields past kMaxHeaderFields in a block, go;
// - a NUL byte in a header block becomes U+FFFD (the parser's values end at a NUL);
// - a top header block that runs into a line that is no header field gets the empty line it
//   lacks there, so that the line stays text;
// - after kMaxContainers multipart or message parts, further ones get the type "x-too-deep"
//   and so are parsed as plain leaves. The parser compares every line that starts with "--"
//   against all open boundaries, so the number of open multiparts must stay small;
// - the message ends before the delimiter line that would open part kMaxParts + 1: the parser
//   builds every part before anything is walked, at hundreds of bytes for a ten-byte part.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "mime/display_message.h"

namespace dovrik::mime {

class PreparedInput {
 public:
  // A dot-stuffed reply with few stuffed lines is not copied: its pieces between the dots are
  // handed to the parser as one stream. More pieces than this make one copy instead.
  static constexpr std::size_t kMaxPieces = 64;

  // Borrows raw, which must outlive the object.
  PreparedInput(std::string_view raw, Framing framing);
  PreparedInput(const PreparedInput&) = delete;
  PreparedInput& operator=(const PreparedInput&) = delete;

  // All bytes the pieces lie in (the framed input, or the repaired copy).
  std::string_view Base() const { return repaired_ ? std::string_view(owned_) : view_; }
  // The message is these pieces of Base() one after the other (offset, length).
  const std::vector<std::pair<std::size_t, std::size_t>>& Pieces() const { return pieces_; }
  // The message as one text (joins the pieces when there are several).
  std::string Bytes() const;
  bool Repaired() const { return repaired_; }
  // Parts after the first kMaxParts were cut away.
  bool PartsCut() const { return parts_cut_; }

 private:
  std::string_view view_;
  std::string with_line_feeds_;  // the framed input with CR LF for lone CRs, when it needs it
  std::string owned_;
  bool parts_cut_ = false;
  bool repaired_ = false;
  std::vector<std::pair<std::size_t, std::size_t>> pieces_;
};

}  // namespace dovrik::mime
