#include "mime/header_text.h"

#include <cstdio>
#include <vector>

namespace dovrik::mime {
namespace {

// An unfinished encoded word is looked for this far back from a cut; longer ones are not words.
constexpr std::size_t kEncodedWordReach = 1024;

bool IsContinuationByte(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// The direction control at text[pos] (all are three bytes in UTF-8), or 0.
char32_t DirectionControlAt(std::string_view text, std::size_t pos) {
  if (pos + 3 > text.size() || text[pos] != '\xe2') return 0;
  const auto second = static_cast<unsigned char>(text[pos + 1]);
  const auto third = static_cast<unsigned char>(text[pos + 2]);
  if (second == 0x80 && third >= 0xAA && third <= 0xAE) return 0x2000 + 0x2A + (third - 0xAA);
  if (second == 0x81 && third >= 0xA6 && third <= 0xA9) return 0x2066 + (third - 0xA6);
  return 0;
}

constexpr char32_t kPopDirectionalFormatting = 0x202C;
constexpr char32_t kPopDirectionalIsolate = 0x2069;
constexpr std::string_view kFirstStrongIsolateUtf8 = "\xe2\x81\xa8";
constexpr std::string_view kPdfUtf8 = "\xe2\x80\xac";
constexpr std::string_view kPdiUtf8 = "\xe2\x81\xa9";

bool IsIsolateInitiator(char32_t c) {
  return c >= 0x2066 && c <= 0x2068;
}

}  // namespace

std::size_t CutPoint(std::string_view value, std::size_t limit) {
  if (value.size() <= limit) return value.size();
  std::size_t cut = limit;
  // Back to the first byte of the character the cut falls in (at most three continuation bytes;
  // more means the text is not UTF-8 and any place is as good as another).
  for (int i = 0; i < 3 && cut > 0 && IsContinuationByte(value[cut]); ++i) --cut;
  if (IsContinuationByte(value[cut])) cut = limit;
  const std::size_t reach = cut > kEncodedWordReach ? cut - kEncodedWordReach : 0;
  const std::string_view kept = value.substr(reach, cut - reach);
  const std::size_t open = kept.rfind("=?");
  if (open == std::string_view::npos) return cut;
  const std::string_view word = kept.substr(open);
  if (word.find_first_of(" \t\r\n") != std::string_view::npos) return cut;  // no word in progress
  // "=?charset?e?text?=": finished when "?=" follows the third '?'.
  std::size_t question = 1;
  for (int i = 0; i < 2 && question != std::string_view::npos; ++i)
    question = word.find('?', question + 1);
  if (question != std::string_view::npos && word.find("?=", question + 1) != std::string_view::npos)
    return cut;
  return reach + open;
}

std::string IsolatedHeaderValue(std::string_view value) {
  std::string out(kFirstStrongIsolateUtf8);
  out.reserve(value.size() + 16);
  std::vector<bool> open;  // what the value opened and has not closed: true for an isolate
  int open_isolates = 0;
  for (std::size_t pos = 0; pos < value.size();) {
    const char32_t control = DirectionControlAt(value, pos);
    if (control == 0) {
      out += value[pos++];
      continue;
    }
    const std::string_view bytes = value.substr(pos, 3);
    pos += 3;
    if (control == kPopDirectionalFormatting) {
      if (open.empty() || open.back()) continue;  // closes nothing (it cannot leave an isolate)
      open.pop_back();
    } else if (control == kPopDirectionalIsolate) {
      if (open_isolates == 0) continue;
      while (!open.back()) {  // embeddings inside the isolate end with it
        out += kPdfUtf8;
        open.pop_back();
      }
      open.pop_back();
      --open_isolates;
    } else {
      open.push_back(IsIsolateInitiator(control));
      if (open.back()) ++open_isolates;
    }
    out += bytes;
  }
  for (auto it = open.rbegin(); it != open.rend(); ++it) out += *it ? kPdiUtf8 : kPdfUtf8;
  out += kPdiUtf8;
  return out;
}

std::string VisibleDirectionControls(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (std::size_t pos = 0; pos < name.size();) {
    const char32_t control = DirectionControlAt(name, pos);
    if (control == 0) {
      out += name[pos++];
      continue;
    }
    char written[16];
    std::snprintf(written, sizeof written, "<U+%04X>", static_cast<unsigned>(control));
    out += written;
    pos += 3;
  }
  return out;
}

}  // namespace dovrik::mime
