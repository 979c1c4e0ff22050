// libFuzzer entry: DecodeForDisplay (both framings) and EncodeOutgoing on arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "mime/charset_text.h"
#include "mime/display_message.h"
#include "mime/encode_outgoing.h"

namespace {

void CheckShown(const dovrik::mime::DisplayMessage& m) {
  using dovrik::mime::IsUtf8;
  for (const std::string* s : {&m.from, &m.to, &m.subject, &m.date, &m.text})
    if (!IsUtf8(*s)) __builtin_trap();
  for (const auto& a : m.attachments)
    if (!IsUtf8(a.name) || !IsUtf8(a.type)) __builtin_trap();
  // Header values are single lines.
  for (const std::string* s : {&m.from, &m.to, &m.subject, &m.date})
    if (s->find_first_of("\r\n") != std::string::npos) __builtin_trap();
}

// A line after the first empty one holds more than 998 characters (CR LF aside).
bool HasLongBodyLine(std::string_view text) {
  bool body = false;
  while (!text.empty()) {
    const std::size_t nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (body && line.size() > 998) return true;
    body = body || line.empty();
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace dovrik::mime;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  CheckShown(DecodeForDisplay(bytes));
  CheckShown(DecodeForDisplay(bytes, Framing::kPop3Reply));
  const std::string wire = EncodeOutgoing(bytes);
  bool seven_bit = true;
  for (const char c : bytes) seven_bit = seven_bit && static_cast<unsigned char>(c) < 0x80;
  // 7-bit text goes out untouched unless a body line is too long for the wire.
  const bool untouched = wire == bytes;
  if (seven_bit && !untouched && !HasLongBodyLine(bytes)) __builtin_trap();
  if (!untouched) {
    for (const char c : wire)
      if (static_cast<unsigned char>(c) >= 0x80) __builtin_trap();  // anything else in 7 bits
  }
  return 0;
}
