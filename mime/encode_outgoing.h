// Encoding the composed text of an outgoing message for the classic SMTP path.
#pragma once

#include <string>
#include <string_view>

namespace dovrik::mime {

// composed: header lines, an empty line, the body; CR LF line ends (as the compose window builds
// it). Text of only 7-bit bytes whose body lines hold at most 998 characters (the most a line
// may hold on the wire) is returned unchanged, byte for byte. Otherwise the message
// declares "charset=UTF-8" and "Content-Transfer-Encoding: quoted-printable", its body is sent in
// quoted-printable and header values with other bytes become RFC 2047 encoded words (for From,
// To and Cc only the display names), folded to lines of at most 78 characters. Bytes that are
// not valid UTF-8 are taken as windows-1252, so that the declared charset is true.
std::string EncodeOutgoing(std::string_view composed);

}  // namespace dovrik::mime
