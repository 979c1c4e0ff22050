// The SMTP side of a session: greeting, HELO, MAIL FROM, RCPT TO, DATA and the data block. No
// QUIT: the session closes the connection when the dialogue ends.
#include "engine/smtp_dialogue.h"

#include "engine/check_thread.h"
#include "engine/quorrel.h"
#include "engine/text_lines.h"

namespace dovrik {

std::string BuildSmtpDataBlock(std::string_view aText) {
  std::string block;
  block.reserve(aText.size() + aText.size() / 32 + 16);
  for (std::string_view line : SplitLines(aText)) {
    if (!line.empty() && line.front() == '.') block += '.';
    block.append(line);
    block.append("\r\n");
  }
  block.append("\r\n.\r\n");
  return block;
}

void tCheckThread::SmtpDialogue(TObject*, Word Error) {
  DoneOnExit done{FDone};
  std::string from;
  std::string to;
  std::string block;
  WithEngine([&](TQuorrel& e) {
    from = e.FSendFrom;
    to = e.FSendTo;
    block = BuildSmtpDataBlock(e.FSendText);
  });
  if (Error != 0) {
    SetError(kQrServerNotFound, kQrServerNotFoundText);
    return;
  }
  if (!WaitReply("220")) {
    SetError(kQrInvalidHello, kQrInvalidHelloText);
    return;
  }
  SmtpHello() &&
      SendCommand("MAIL FROM:<" + from + ">", "250", kQrSendRefused) &&
      SendCommand("RCPT TO:<" + to + ">", "250", kQrSendRefused) &&
      SendCommand("DATA", "354", kQrSendRefused) && SendCommand(block, "250", kQrSendRefused);
}

}  // namespace dovrik
