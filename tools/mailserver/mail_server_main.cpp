// dovrik-mailserver: the test mail server as a program, for the demo, interoperability tests and
// benchmarks. Serves POP3 and SMTP on 127.0.0.1, prints "pop3 <port>" and "smtp <port>", and runs
// until SIGINT or SIGTERM.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "tools/mailserver/mail_server.h"

namespace {

void Usage() {
  std::cerr << "usage: dovrik-mailserver [--pop3-port N] [--smtp-port N] [--user U] [--pass P]\n"
               "  [--no-samples] [--message-file F]... [--message-size BYTES]...\n"
               "  [--silent] [--list-after-user] [--refuse WORD] [--refuse-pass N]\n"
               "  [--greeting TEXT] [--trickle MS] [--cut stall|close|reset] [--cut-after N]\n"
               "TEXT may use \\r and \\n.\n";
}

std::string Unescape(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size() && (s[i + 1] == 'r' || s[i + 1] == 'n')) {
      out += s[++i] == 'r' ? '\r' : '\n';
    } else {
      out += s[i];
    }
  }
  return out;
}

// A plain message of about size bytes, in 78-byte lines.
std::string GeneratedMessage(std::size_t size) {
  std::string m =
      "From: bench@example.invalid\r\nTo: user@example.invalid\r\nSubject: Generated\r\n\r\n";
  const std::string line(76, 'x');
  while (m.size() + 78 <= size) m += line + "\r\n";
  return m;
}

}  // namespace

int main(int argc, char** argv) {
  dovrik::tools::MailBehaviour pop3;
  int pop3_port = 0;
  int smtp_port = 0;
  bool samples = true;
  std::vector<std::string> extra;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto next = [&]() -> std::string {
      if (i + 1 >= argc) {
        Usage();
        std::exit(2);
      }
      return argv[++i];
    };
    if (a == "--pop3-port") {
      pop3_port = std::atoi(next().c_str());
    } else if (a == "--smtp-port") {
      smtp_port = std::atoi(next().c_str());
    } else if (a == "--user") {
      pop3.user = next();
    } else if (a == "--pass") {
      pop3.pass = next();
    } else if (a == "--no-samples") {
      samples = false;
    } else if (a == "--message-file") {
      std::ifstream in(next(), std::ios::binary);
      std::ostringstream text;
      text << in.rdbuf();
      extra.push_back(text.str());
    } else if (a == "--message-size") {
      extra.push_back(GeneratedMessage(std::strtoull(next().c_str(), nullptr, 10)));
    } else if (a == "--silent") {
      pop3.silent = true;
    } else if (a == "--list-after-user") {
      pop3.list_after_user = true;
    } else if (a == "--refuse") {
      pop3.refuse = next();
    } else if (a == "--refuse-pass") {
      pop3.refuse_pass_count = std::atoi(next().c_str());
    } else if (a == "--greeting") {
      pop3.greeting = Unescape(next());
    } else if (a == "--trickle") {
      pop3.trickle_gap_ms = std::atoi(next().c_str());
    } else if (a == "--cut") {
      const std::string how = next();
      pop3.cut = how == "stall"   ? dovrik::tools::MailCut::kStall
                 : how == "reset" ? dovrik::tools::MailCut::kReset
                                  : dovrik::tools::MailCut::kClose;
    } else if (a == "--cut-after") {
      pop3.cut_after = std::strtoull(next().c_str(), nullptr, 10);
    } else {
      Usage();
      return 2;
    }
  }
  if (samples) pop3.messages = dovrik::tools::SampleMessages();
  for (auto& m : extra) pop3.messages.push_back(std::move(m));

  // Signals are taken by sigwait below, not by the serving threads.
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);

  dovrik::tools::MailBehaviour smtp;
  smtp.protocol = dovrik::tools::MailProtocol::kSmtp;
  try {
    dovrik::tools::MailServer pop3_server(pop3, static_cast<std::uint16_t>(pop3_port));
    dovrik::tools::MailServer smtp_server(smtp, static_cast<std::uint16_t>(smtp_port));
    std::printf("pop3 %u\nsmtp %u\n", pop3_server.Port(), smtp_server.Port());
    std::fflush(stdout);
    int sig = 0;
    sigwait(&stop, &sig);
  } catch (const std::exception& e) {
    std::cerr << "dovrik-mailserver: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
