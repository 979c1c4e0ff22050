// The complete text of an outgoing message as the compose window is filled with it: the header
// lines, an empty line, the body; every line ended by CR LF. Plain code, no Qt.
#pragma once

#include <string>
#include <string_view>

namespace dovrik {

// The compose window's caption: "Reply" or "New message".
const char* ComposeCaption(bool is_reply);

// A reply's subject gets "Re: " in front unless it already begins with "RE:" in any case, at its
// very first character; a new message keeps its subject.
std::string ComposeSubject(std::string_view subject, bool is_reply);

// from: the sender setting, whole; date: the text after "Date: " (MailDate). The body is split at
// CR LF, lone CR and lone LF; a reply's lines get "=>" in front.
std::string ComposeText(std::string_view from, std::string_view to, std::string_view subject,
                        std::string_view date, std::string_view body, bool is_reply);

}  // namespace dovrik
