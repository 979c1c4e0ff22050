#include "mime/charset_text.h"

#include <gmime/gmime.h>
#include <iconv.h>

#include <cerrno>
#include <cstdint>

#include "mime/gmime_init.h"

namespace dovrik::mime {
namespace {

// windows-1252 bytes 0x80..0x9F; the five it leaves undefined keep their ISO 8859-1 meaning.
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

std::string FromWindows1252(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 4);
  for (const char ch : bytes) {
    const auto b = static_cast<unsigned char>(ch);
    AppendUtf8(out, b >= 0x80 && b < 0xA0 ? kWindows1252High[b - 0x80] : b);
  }
  return out;
}

bool IsWindows1252Family(const char* charset) {
  for (const char* name : {"us-ascii", "ascii", "iso-8859-1", "iso8859-1", "latin1", "windows-1252",
                           "cp1252", "x-user-defined"}) {
    if (g_ascii_strcasecmp(charset, name) == 0) return true;
  }
  return false;
}

bool IsUtf8Name(const char* charset) {
  return g_ascii_strcasecmp(charset, "utf-8") == 0 || g_ascii_strcasecmp(charset, "utf8") == 0;
}

// iconv to UTF-8; false when the converter does not exist or the bytes are not in that charset.
bool Convert(std::string_view bytes, const char* charset, std::string& out) {
  iconv_t cd = g_mime_iconv_open("UTF-8", charset);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  out.clear();
  out.resize(bytes.size() * 2 + 16);
  char* in = const_cast<char*>(bytes.data());
  std::size_t in_left = bytes.size();
  std::size_t used = 0;
  bool ok = true;
  while (true) {
    char* dst = out.data() + used;
    std::size_t out_left = out.size() - used;
    const std::size_t r = in_left == 0 ? iconv(cd, nullptr, nullptr, &dst, &out_left)
                                       : iconv(cd, &in, &in_left, &dst, &out_left);
    used = out.size() - out_left;
    if (r != static_cast<std::size_t>(-1)) {
      if (in_left == 0) break;
      continue;
    }
    if (errno == E2BIG) {
      out.resize(out.size() * 2);
      continue;
    }
    ok = false;  // EILSEQ or EINVAL: the text lies about its charset
    break;
  }
  g_mime_iconv_close(cd);
  out.resize(used);
  return ok && IsUtf8(out);
}

}  // namespace

bool IsUtf8(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* end = p + bytes.size();
  while (p < end) {
    const unsigned char b = *p;
    if (b < 0x80) {
      ++p;
      continue;
    }
    int more;
    char32_t min;
    if (b >= 0xC2 && b <= 0xDF) {
      more = 1, min = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
      more = 2, min = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
      more = 3, min = 0x10000;
    } else {
      return false;
    }
    if (end - p <= more) return false;
    char32_t c = b & (0x3F >> more);
    for (int i = 1; i <= more; ++i) {
      if ((p[i] & 0xC0) != 0x80) return false;
      c = (c << 6) | (p[i] & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    p += more + 1;
  }
  return true;
}

std::string Utf8OrWindows1252(std::string_view bytes) {
  if (IsUtf8(bytes)) return std::string(bytes);
  return FromWindows1252(bytes);
}

std::string TextToUtf8(std::string_view bytes, const char* charset) {
  if (charset == nullptr || *charset == '\0' || IsUtf8Name(charset) || IsWindows1252Family(charset))
    return Utf8OrWindows1252(bytes);
  EnsureGMime();
  std::string out;
  if (Convert(bytes, charset, out)) return out;
  return Utf8OrWindows1252(bytes);
}

}  // namespace dovrik::mime
