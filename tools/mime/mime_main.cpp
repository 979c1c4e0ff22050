// dovrik-mime: the MIME library from the shell, for scripts and for looking at a message.
//   dovrik-mime decode [--pop3] FILE   prints From=, To=, Subject=, Date=, Mime=, Html=, Text=
//                                      and one Attachment=name|type|size line per attachment
//                                      (values on one line: CR, LF and backslash escaped)
//   dovrik-mime encode FILE            writes the text as it would be sent
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "mime/display_message.h"
#include "mime/encode_outgoing.h"
#include "tools/mime/display_dump.h"

namespace {

int Usage() {
  std::cerr << "usage: dovrik-mime decode [--pop3] FILE | encode FILE\n";
  return 2;
}

bool ReadFile(const std::string& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::cerr << "dovrik-mime: cannot read " << path << "\n";
    return false;
  }
  std::ostringstream buffer;
  buffer << in.rdbuf();
  text = buffer.str();
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  const bool pop3 = argc == 4 && std::string(argv[2]) == "--pop3";
  std::string text;
  if (command == "encode" && argc == 3) {
    if (!ReadFile(argv[2], text)) return 2;
    std::cout << dovrik::mime::EncodeOutgoing(text);
    return 0;
  }
  if (command != "decode" || !(argc == 3 || pop3)) return Usage();
  if (!ReadFile(argv[argc - 1], text)) return 2;
  const dovrik::mime::DisplayMessage m = dovrik::mime::DecodeForDisplay(
      text, pop3 ? dovrik::mime::Framing::kPop3Reply : dovrik::mime::Framing::kMessage);
  std::cout << dovrik::tools::DumpDisplay(m);
  return 0;
}
