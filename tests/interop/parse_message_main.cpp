// dovrik-interop-parse FILE: runs the engine's ParseMessage on a retrieved message and prints its
// five fields, one per line as "Name=value", with CR, LF and backslash escaped, so that shell
// tests can compare them against what a real server delivered.
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "engine/message_parser.h"
#include "tools/probe/escape_line.h"

using dovrik::tools::EscapeLine;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: dovrik-interop-parse FILE\n";
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::cerr << "dovrik-interop-parse: cannot read " << argv[1] << "\n";
    return 2;
  }
  std::ostringstream text;
  text << in.rdbuf();
  dovrik::tQrMessage message;
  if (!dovrik::ParseMessage(text.str(), message)) return 1;
  std::cout << "From=" << EscapeLine(message.From) << "\n"
            << "To=" << EscapeLine(message.To) << "\n"
            << "Subject=" << EscapeLine(message.Subject) << "\n"
            << "Date=" << EscapeLine(message.Date) << "\n"
            << "Text=" << EscapeLine(message.Text) << "\n";
  return 0;
}
