// libFuzzer entry: the "Icons" stream reader and the icon file reader on arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <span>

#include "components/icons_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace dovrik::icons_stream;
  const std::span<const std::uint8_t> bytes(data, size);
  const StreamParse stream = ParseStream(bytes);
  if (!stream.ok() && !stream.entries.empty()) __builtin_trap();  // failure leaves nothing behind
  for (const Bytes& entry : stream.entries) {
    const IcoParse ico = ParseIco(entry);
    std::size_t copied = 0;  // the images never hold more bytes than the entry
    for (const IcoImage& image : ico.images) copied += image.data.size();
    if (copied > entry.size()) __builtin_trap();
  }
  // The same bytes as a bare icon file, so the directory checks get direct coverage too.
  const IcoParse ico = ParseIco(bytes);
  for (const IcoImage& image : ico.images) {
    if (image.png && (image.width > kMaxIconSide || image.height > kMaxIconSide)) __builtin_trap();
  }
  return 0;
}
