#include "components/icons_stream.h"

#include <cstring>

namespace dovrik::icons_stream {
namespace {

std::int32_t ReadI32(std::span<const std::uint8_t> d, std::size_t at) {
  const std::uint32_t u = std::uint32_t(d[at]) | std::uint32_t(d[at + 1]) << 8 |
                          std::uint32_t(d[at + 2]) << 16 | std::uint32_t(d[at + 3]) << 24;
  return static_cast<std::int32_t>(u);
}
std::uint32_t ReadU32(std::span<const std::uint8_t> d, std::size_t at) {
  return static_cast<std::uint32_t>(ReadI32(d, at));
}
std::uint16_t ReadU16(std::span<const std::uint8_t> d, std::size_t at) {
  return static_cast<std::uint16_t>(d[at] | d[at + 1] << 8);
}
std::uint32_t ReadBeU32(std::span<const std::uint8_t> d, std::size_t at) {
  return std::uint32_t(d[at]) << 24 | std::uint32_t(d[at + 1]) << 16 |
         std::uint32_t(d[at + 2]) << 8 | std::uint32_t(d[at + 3]);
}
void PutU32(Bytes& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void PutU16(Bytes& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

constexpr std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

bool IsPng(std::span<const std::uint8_t> d) {
  return d.size() >= 8 && std::memcmp(d.data(), kPngSignature, 8) == 0;
}

}  // namespace

StreamParse ParseStream(std::span<const std::uint8_t> data) {
  StreamParse r;
  auto fail = [&r](std::string text) {
    r.entries.clear();
    r.error = "Icons: " + std::move(text);
    return r;
  };
  if (data.size() < 4) return fail("stream too short for the entry count");
  const std::int32_t n = ReadI32(data, 0);
  if (n < 0) return fail("negative entry count " + std::to_string(n));
  std::size_t pos = 4;
  // Every entry needs at least its 4-byte size: a larger count can't be true.
  if (static_cast<std::size_t>(n) > (data.size() - pos) / 4) {
    return fail("entry count " + std::to_string(n) + " exceeds the data");
  }
  r.entries.reserve(static_cast<std::size_t>(n));
  for (std::int32_t i = 0; i < n; ++i) {
    if (data.size() - pos < 4)
      return fail("truncated at the size of entry " + std::to_string(i + 1));
    const std::int32_t s = ReadI32(data, pos);
    pos += 4;
    if (s <= 0) {  // a size of 0 or less is an empty entry, with no bytes of its own
      r.entries.emplace_back();
      continue;
    }
    if (static_cast<std::size_t>(s) > data.size() - pos) {
      return fail("size " + std::to_string(s) + " of entry " + std::to_string(i + 1) +
                  " exceeds the data");
    }
    r.entries.emplace_back(data.begin() + pos, data.begin() + pos + s);
    pos += static_cast<std::size_t>(s);
  }
  if (pos != data.size())
    return fail(std::to_string(data.size() - pos) + " bytes after the last entry");
  return r;
}

Bytes BuildStream(const std::vector<Bytes>& entries) {
  Bytes out;
  PutU32(out, static_cast<std::uint32_t>(entries.size()));
  for (const Bytes& e : entries) {
    PutU32(out, static_cast<std::uint32_t>(e.size()));
    out.insert(out.end(), e.begin(), e.end());
  }
  return out;
}

IcoParse ParseIco(std::span<const std::uint8_t> data) {
  IcoParse r;
  auto fail = [&r](std::string text) {
    r.images.clear();
    r.error = "icon: " + std::move(text);
    return r;
  };
  if (data.size() < 6) return fail("too short for a header");
  if (ReadU16(data, 0) != 0 || ReadU16(data, 2) != 1) return fail("not an icon file");
  const std::size_t count = ReadU16(data, 4);
  if (count == 0) return fail("no images");
  if (count > (data.size() - 6) / 16) return fail("directory exceeds the data");
  r.images.reserve(count);
  // Images of a real icon file don't share bytes: a directory whose images add up to more than
  // the file would make every entry copy the same bytes again.
  std::size_t payload_total = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t e = 6 + 16 * i;
    IcoImage img;
    img.width = data[e] == 0 ? 256 : data[e];
    img.height = data[e + 1] == 0 ? 256 : data[e + 1];
    const std::uint32_t size = ReadU32(data, e + 8);
    const std::uint32_t offset = ReadU32(data, e + 12);
    if (offset > data.size() || size > data.size() - offset || size == 0) {
      return fail("image " + std::to_string(i + 1) + " lies outside the data");
    }
    payload_total += size;
    if (payload_total > data.size()) {
      return fail("image " + std::to_string(i + 1) + " overlaps the others");
    }
    const auto payload = data.subspan(offset, size);
    img.png = IsPng(payload);
    if (img.png) {
      // The image header chunk must come first: length 13, type IHDR, width, height.
      if (payload.size() < 8 + 8 + 13 || ReadBeU32(payload, 8) != 13 ||
          std::memcmp(payload.data() + 12, "IHDR", 4) != 0) {
        return fail("image " + std::to_string(i + 1) + " has a broken PNG header");
      }
      const std::uint32_t w = ReadBeU32(payload, 16);
      const std::uint32_t h = ReadBeU32(payload, 20);
      if (w == 0 || h == 0 || w > kMaxIconSide || h > kMaxIconSide) {
        return fail("image " + std::to_string(i + 1) + " has an unacceptable size " +
                    std::to_string(w) + "x" + std::to_string(h));
      }
      img.width = static_cast<int>(w);
      img.height = static_cast<int>(h);
    }
    img.data.assign(payload.begin(), payload.end());
    r.images.push_back(std::move(img));
  }
  return r;
}

Bytes BuildIco(const std::vector<PngImage>& images) {
  Bytes out;
  PutU16(out, 0);
  PutU16(out, 1);
  PutU16(out, static_cast<std::uint16_t>(images.size()));
  std::uint32_t offset = static_cast<std::uint32_t>(6 + 16 * images.size());
  for (const PngImage& img : images) {
    out.push_back(static_cast<std::uint8_t>(img.width >= 256 ? 0 : img.width));
    out.push_back(static_cast<std::uint8_t>(img.height >= 256 ? 0 : img.height));
    out.push_back(0);  // colours in the palette: none
    out.push_back(0);  // reserved
    PutU16(out, 1);    // colour planes
    PutU16(out, 32);   // bits per pixel
    PutU32(out, static_cast<std::uint32_t>(img.png.size()));
    PutU32(out, offset);
    offset += static_cast<std::uint32_t>(img.png.size());
  }
  for (const PngImage& img : images) out.insert(out.end(), img.png.begin(), img.png.end());
  return out;
}

}  // namespace dovrik::icons_stream
