// A decoded message as text lines "Name=value" (CR, LF and backslash escaped), the format of
// `dovrik-mime decode` and of the expected files of the message corpus.
#pragma once

#include <string>

#include "mime/display_message.h"
#include "tools/probe/escape_line.h"

namespace dovrik::tools {

inline std::string DumpDisplay(const mime::DisplayMessage& m) {
  std::string out;
  out += "From=" + EscapeLine(m.from) + "\n";
  out += "To=" + EscapeLine(m.to) + "\n";
  out += "Subject=" + EscapeLine(m.subject) + "\n";
  out += "Date=" + EscapeLine(m.date) + "\n";
  out += std::string("Mime=") + (m.is_mime ? "yes" : "no") + "\n";
  out += std::string("Html=") + (m.text_from_html ? "yes" : "no") + "\n";
  out += "Text=" + EscapeLine(m.text) + "\n";
  for (const mime::Attachment& a : m.attachments)
    out += "Attachment=" + EscapeLine(a.name) + "|" + a.type + "|" + std::to_string(a.size) + "\n";
  return out;
}

}  // namespace dovrik::tools
