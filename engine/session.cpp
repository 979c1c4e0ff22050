#include "engine/session.h"

#include <string.h>

#include "engine/pop3_dialogue.h"
#include "engine/smtp_dialogue.h"

namespace dovrik {

void Wipe(std::string& aText) {
  explicit_bzero(aText.data(), aText.size());
}

std::unique_ptr<Dialogue> MakeDialogue(ProtocolId aProtocol) {
  switch (aProtocol) {
    case ProtocolId::kSmtp:
      return std::make_unique<SmtpDialogue>();
    case ProtocolId::kPop3:
      break;
  }
  return std::make_unique<Pop3Dialogue>();
}

}  // namespace dovrik
