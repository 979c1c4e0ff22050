#include "model/compose_text.h"

#include "engine/text_lines.h"

namespace dovrik {
namespace {

constexpr std::string_view kCrLf = "\r\n";

bool BeginsWithRe(std::string_view s) {
  auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
  return s.size() >= 3 && upper(s[0]) == 'R' && upper(s[1]) == 'E' && s[2] == ':';
}

void AddLine(std::string& text, std::string_view head, std::string_view rest) {
  text.append(head).append(rest).append(kCrLf);
}

}  // namespace

const char* ComposeCaption(bool is_reply) {
  return is_reply ? "Reply" : "New message";
}

std::string ComposeSubject(std::string_view subject, bool is_reply) {
  if (!is_reply || BeginsWithRe(subject)) return std::string(subject);
  return "Re: " + std::string(subject);
}

std::string ComposeText(std::string_view from, std::string_view to, std::string_view subject,
                        std::string_view date, std::string_view body, bool is_reply) {
  std::string text;
  text.reserve(from.size() + to.size() + subject.size() + body.size() * 2 + 128);
  AddLine(text, "From: ", from);
  AddLine(text, "To: ", to);
  AddLine(text, "Subject: ", ComposeSubject(subject, is_reply));
  AddLine(text, "Date: ", date);
  AddLine(text, "MIME-Version: 1.0", "");
  AddLine(text, "Content-Type: text/plain", "");
  text.append(kCrLf);
  for (std::string_view line : SplitLines(body)) AddLine(text, is_reply ? "=>" : "", line);
  return text;
}

}  // namespace dovrik
