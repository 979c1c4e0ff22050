#include "engine/smtp_reply.h"

#include <cctype>

namespace dovrik {
namespace {

// Calls f(text after the code and separator) for each complete line; stops when f returns true.
template <typename F>
bool AnyLine(std::string_view aReply, F f) {
  std::size_t start = 0;
  for (std::size_t end; (end = aReply.find("\r\n", start)) != std::string_view::npos;
       start = end + 2) {
    if (f(aReply.substr(start, end - start))) return true;
  }
  return false;
}

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// The words of one extension line ("250-AUTH PLAIN LOGIN" gives AUTH, PLAIN, LOGIN; the old
// "AUTH=PLAIN LOGIN" the same).
std::vector<std::string> Words(std::string_view line) {
  std::vector<std::string> words;
  if (line.size() <= 4) return words;
  std::string_view rest = line.substr(4);
  std::string word;
  for (char c : rest) {
    if (c == ' ' || c == '=' || c == '\t') {
      if (!word.empty()) words.push_back(Upper(word));
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(Upper(word));
  return words;
}

}  // namespace

bool SmtpReplyComplete(std::string_view aReply) {
  return AnyLine(aReply, [](std::string_view line) { return line.size() < 4 || line[3] != '-'; });
}

bool SmtpOffers(std::string_view aReply, std::string_view anExtension) {
  const std::string wanted = Upper(anExtension);
  return AnyLine(aReply, [&](std::string_view line) {
    const auto words = Words(line);
    return !words.empty() && words.front() == wanted;
  });
}

std::vector<std::string> SmtpAuthMechanisms(std::string_view aReply) {
  std::vector<std::string> mechanisms;
  AnyLine(aReply, [&](std::string_view line) {
    auto words = Words(line);
    if (words.empty() || words.front() != "AUTH") return false;
    mechanisms.assign(words.begin() + 1, words.end());
    return true;
  });
  return mechanisms;
}

std::string Base64(std::string_view aBytes) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((aBytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= aBytes.size(); i += 3) {
    const unsigned v = (static_cast<unsigned char>(aBytes[i]) << 16) |
                       (static_cast<unsigned char>(aBytes[i + 1]) << 8) |
                       static_cast<unsigned char>(aBytes[i + 2]);
    out += kDigits[v >> 18];
    out += kDigits[(v >> 12) & 63];
    out += kDigits[(v >> 6) & 63];
    out += kDigits[v & 63];
  }
  if (i < aBytes.size()) {
    unsigned v = static_cast<unsigned char>(aBytes[i]) << 16;
    if (i + 1 < aBytes.size()) v |= static_cast<unsigned char>(aBytes[i + 1]) << 8;
    out += kDigits[v >> 18];
    out += kDigits[(v >> 12) & 63];
    out += i + 1 < aBytes.size() ? kDigits[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

}  // namespace dovrik
