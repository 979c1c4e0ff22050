// Keeps a text on one output line: CR, LF and backslash become \r, \n and \\, so shell tests can
// compare what the engine saw with what a server sent.
#pragma once

#include <string>

namespace dovrik::tools {

inline std::string EscapeLine(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    if (c == '\r')
      out += "\\r";
    else if (c == '\n')
      out += "\\n";
    else if (c == '\\')
      out += "\\\\";
    else
      out += c;
  }
  return out;
}

}  // namespace dovrik::tools
