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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace dovrik::mime;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  CheckShown(DecodeForDisplay(bytes));
  CheckShown(DecodeForDisplay(bytes, Framing::kPop3Reply));
  const std::string wire = EncodeOutgoing(bytes);
  bool seven_bit = true;
  for (const char c : bytes) seven_bit = seven_bit && static_cast<unsigned char>(c) < 0x80;
  if (seven_bit ? wire != bytes : false) __builtin_trap();  // 7-bit text goes out untouched
  if (!seven_bit) {
    for (const char c : wire)
      if (static_cast<unsigned char>(c) >= 0x80) __builtin_trap();  // anything else in 7 bits
  }
  return 0;
}
