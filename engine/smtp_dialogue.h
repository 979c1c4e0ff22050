// The SMTP side of a session, and the pieces of it that stand on their own.
#pragma once

#include <string>
#include <string_view>

#include "engine/session.h"

namespace dovrik {

// The DATA block for aText: every line (CR LF, lone CR or lone LF breaks) dot-stuffed and ended by
// CR LF, then an empty line and ".". Sent as one command, which adds the final CR LF.
std::string BuildSmtpDataBlock(std::string_view aText);

// Greeting, HELO as ever (or EHLO, STARTTLS, EHLO and the login when encrypted), MAIL FROM,
// RCPT TO, DATA and the data block. No QUIT: the session closes the connection when the dialogue
// ends.
class SmtpDialogue final : public Dialogue {
 public:
  void Run(ReplyChannel& aChannel) override;

 private:
  bool Hello();
  bool StartTls(const std::string& aHello);
  bool Login(const std::string& aCapabilities);
  bool Send();

  ReplyChannel* channel_ = nullptr;
};

}  // namespace dovrik
