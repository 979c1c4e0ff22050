// dovrik-probe: runs one mail action of the engine without a desktop and prints its result.
//   dovrik-probe [options] check | get N | delete N | send FROM TO FILE
// --in-security / --out-security none|starttls|tls choose the encryption (default: from the port),
// --ca-file FILE the authorities to trust in place of the system's, --trust FP a certificate
// fingerprint to accept although no authority vouches for it.
// Prints one line "code=<n> count=<n> size=<n>" (with " text=<escaped>" on failure); get writes
// the retrieved text to --out FILE or, after the result line, to standard output. The password
// is read from standard input, one line per request, only when the server asks for it.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "engine/quorrel.h"
#include "platform/message_queue.h"
#include "settings/security_settings.h"
#include "tools/probe/escape_line.h"

namespace {

void Usage() {
  std::cerr << "usage: dovrik-probe [--server HOST] [--port PORT] [--user NAME] [--timeout S]\n"
               "                    [--repeat N] [--out FILE] [--in-security none|starttls|tls]\n"
               "                    [--out-security none|starttls|tls] [--ca-file FILE]\n"
               "                    [--trust FINGERPRINT]... check | get N | delete N |\n"
               "                    send FROM TO FILE\n";
}

using dovrik::tools::EscapeLine;

}  // namespace

int main(int argc, char** argv) {
  std::string server = "127.0.0.1";
  std::string port;
  std::string user = "user";
  std::string out_file;
  int timeout = 10;
  int repeat = 1;
  std::string in_security;
  std::string out_security;
  std::string ca_file;
  std::vector<std::string> trusted;
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto next = [&]() -> std::string {
      if (i + 1 >= argc) {
        Usage();
        std::exit(2);
      }
      return argv[++i];
    };
    if (a == "--server")
      server = next();
    else if (a == "--port")
      port = next();
    else if (a == "--user")
      user = next();
    else if (a == "--timeout")
      timeout = std::atoi(next().c_str());
    else if (a == "--repeat")
      repeat = std::max(1, std::atoi(next().c_str()));
    else if (a == "--out")
      out_file = next();
    else if (a == "--in-security")
      in_security = next();
    else if (a == "--out-security")
      out_security = next();
    else if (a == "--ca-file")
      ca_file = next();
    else if (a == "--trust")
      trusted.push_back(next());
    else if (a.rfind("--", 0) == 0) {
      Usage();
      return 2;
    } else
      args.push_back(a);
  }
  if (args.empty()) {
    Usage();
    return 2;
  }
  const std::string command = args[0];
  dovrik::tQrAction action = dovrik::acNone;
  if (command == "check" && args.size() == 1)
    action = dovrik::acCheck;
  else if (command == "get" && args.size() == 2)
    action = dovrik::acGetMessage;
  else if (command == "delete" && args.size() == 2)
    action = dovrik::acDelete;
  else if (command == "send" && args.size() == 4)
    action = dovrik::acSend;
  if (action == dovrik::acNone) {
    Usage();
    return 2;
  }
  std::string send_text;
  if (action == dovrik::acSend) {
    std::ifstream in(args[3], std::ios::binary);
    if (!in) {
      std::cerr << "dovrik-probe: cannot read " << args[3] << "\n";
      return 2;
    }
    std::ostringstream text;
    text << in.rdbuf();
    send_text = text.str();
  }

  dovrik::platform::SetMainThread();
  dovrik::TQuorrel engine;
  engine.SetUserName(user);
  engine.SetInServer(server);
  engine.SetOutServer(server);
  if (!port.empty()) {
    engine.SetInPort(port);
    engine.SetOutPort(port);
  }
  engine.SetTimeOut(timeout);
  // Like the settings: a mode not given follows the port.
  auto mode = [](const std::string& text, const std::string& port) {
    if (text.empty()) return dovrik::SecurityForPort(port);
    const auto m = dovrik::SecurityFromText(text);
    if (!m) {
      Usage();
      std::exit(2);
    }
    return *m;
  };
  engine.SetInSecurity(mode(in_security, engine.InPort()));
  engine.SetOutSecurity(mode(out_security, engine.OutPort()));
  engine.SetCaFile(ca_file);
  engine.SetInTrusted(trusted);
  engine.SetOutTrusted(trusted);

  // Like the desktop: a password that worked is given again without asking.
  std::string known;
  bool known_used = false;
  std::string last_given;
  engine.OnGetPass = [&](dovrik::TQuorrel*, std::string& aPass) {
    if (!known.empty() && !known_used) {
      known_used = true;
      aPass = known;
    } else if (!std::getline(std::cin, aPass)) {
      aPass.clear();
    }
    if (!aPass.empty() && aPass.back() == '\r') aPass.pop_back();
    last_given = aPass;
  };
  bool done = false;
  engine.OnActionDone = [&](dovrik::TQuorrel*, dovrik::tQrAction) { done = true; };

  int code = 0;
  for (int run = 0; run < repeat; ++run) {
    done = false;
    known_used = false;
    last_given.clear();
    const auto start = std::chrono::steady_clock::now();
    bool started = false;
    switch (action) {
      case dovrik::acCheck:
        started = engine.Check();
        break;
      case dovrik::acGetMessage:
        started = engine.GetMessage(std::atoi(args[1].c_str()));
        break;
      case dovrik::acDelete:
        started = engine.DeleteMessage(std::atoi(args[1].c_str()));
        break;
      default:
        started = engine.SendMail(args[1], args[2], send_text);
        break;
    }
    if (!started) return 1;
    while (!done) {
      dovrik::platform::WaitMessages(1000);
      dovrik::platform::PumpMessages();
    }
    const std::chrono::duration<double, std::milli> ms = std::chrono::steady_clock::now() - start;
    if (repeat > 1) std::fprintf(stderr, "ms=%.3f\n", ms.count());
    code = engine.ErrorCode(action);
    if (code == 0 && !last_given.empty()) known = last_given;
  }

  std::string line = "code=" + std::to_string(code) +
                     " count=" + std::to_string(engine.MessageCount()) +
                     " size=" + std::to_string(engine.MailboxSize());
  if (code != 0) line += " text=" + EscapeLine(engine.ErrorText(action));
  std::printf("%s\n", line.c_str());
  if (action == dovrik::acGetMessage && code == 0) {
    const auto text = engine.MessageTextShared();
    if (!out_file.empty()) {
      std::ofstream out(out_file, std::ios::binary);
      out.write(text->data(), static_cast<std::streamsize>(text->size()));
    } else {
      std::fwrite(text->data(), 1, text->size(), stdout);
    }
  }
  std::fflush(stdout);
  return code == 0 ? 0 : 1;
}
