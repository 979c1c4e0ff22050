// The "Icons" stream of an icon list, and the icon file format inside it, on plain bytes.
//
// Stream: int32 N, then N times (int32 size S, S bytes of an icon file); all little-endian.
// S <= 0 is an empty entry. Icon file: the classic icon directory (6-byte header, 16-byte entries)
// whose images are PNG files; other image payloads are passed through for the caller to decode.
//
// Everything here is given untrusted bytes: it checks every count, size and offset against what is
// really there before it allocates or reads, and reports a failure as a text.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace dovrik::icons_stream {

using Bytes = std::vector<std::uint8_t>;

// One entry of the stream: the bytes of one icon file, empty for an empty entry.
struct StreamParse {
  std::vector<Bytes> entries;
  std::string error;  // empty on success; entries is then empty on failure
  bool ok() const { return error.empty(); }
};

StreamParse ParseStream(std::span<const std::uint8_t> data);
Bytes BuildStream(const std::vector<Bytes>& entries);

// One image of an icon file.
struct IcoImage {
  int width = 0;   // pixels, 1..256
  int height = 0;  // pixels, 1..256
  bool png = false;
  Bytes data;  // the image payload as stored (a PNG file, or a bitmap of the classic kind)
};

struct IcoParse {
  std::vector<IcoImage> images;
  std::string error;
  bool ok() const { return error.empty(); }
};

// Largest side accepted for a PNG payload; a PNG that claims more is refused before decoding, so a
// few bytes can't ask for a huge image.
inline constexpr int kMaxIconSide = 1024;

IcoParse ParseIco(std::span<const std::uint8_t> data);

struct PngImage {
  int width = 0;
  int height = 0;
  Bytes png;  // a complete PNG file
};
Bytes BuildIco(const std::vector<PngImage>& images);

}  // namespace dovrik::icons_stream
