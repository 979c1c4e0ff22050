// The SMTP side of a session as named steps over the command/reply layer.
#include "engine/smtp_dialogue.h"

#include <algorithm>
#include <vector>

#include "engine/smtp_reply.h"
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

void SmtpDialogue::Run(ReplyChannel& aChannel) {
  channel_ = &aChannel;
  if (!channel_->WaitReply("220")) {
    channel_->Fail(kQrInvalidHello, kQrInvalidHelloText);
    return;
  }
  Hello() && Send();
}

bool SmtpDialogue::Hello() {
  const SessionRequest& request = channel_->Request();
  if (request.security == SecurityMode::kNone)
    return channel_->SendCommand("HELO " + request.user, "250", kQrHeloRefused);
  // EHLO names this machine by its address, as the standard allows; the user name (HELO's
  // argument in clear) would go out before the encryption.
  const std::string hello = "EHLO " + channel_->LocalAddressLiteral();
  if (request.security == SecurityMode::kStartTls && !StartTls(hello)) return false;
  return channel_->SendCommand(hello, "250", kQrHeloRefused) && Login(channel_->Reply());
}

bool SmtpDialogue::StartTls(const std::string& aHello) {
  if (!channel_->SendCommand(aHello, "250", kQrHeloRefused)) return false;
  if (!SmtpOffers(channel_->Reply(), "STARTTLS")) {
    channel_->Fail(kQrTlsNotOffered, "The server " + channel_->Request().server +
                                         " does not offer encryption (STARTTLS)" +
                                         kNothingSentText);
    return false;
  }
  const ProtocolInfo& smtp = Protocol(ProtocolId::kSmtp);
  return channel_->UpgradeToTls(std::string(smtp.starttls_command),
                                std::string(smtp.starttls_go_ahead));
}

bool SmtpDialogue::Login(const std::string& aCapabilities) {
  const std::vector<std::string> offered = SmtpAuthMechanisms(aCapabilities);
  const bool plain = std::find(offered.begin(), offered.end(), "PLAIN") != offered.end();
  const bool login = std::find(offered.begin(), offered.end(), "LOGIN") != offered.end();
  // No login the server knows: send without one and let the server judge. Never a login in
  // clear.
  if ((!plain && !login) || !channel_->TlsEstablished()) return true;
  const bool given = channel_->RequestPassword();
  std::string& pass = channel_->Password();
  WipeOnExit wipe_pass{pass};
  if (!given) {
    channel_->Fail(kQrAuthRefused, "No password given");
    return false;
  }
  const std::string& user = channel_->Request().user;
  if (plain) {
    std::string token;
    WipeOnExit wipe_token{token};
    token.reserve(user.size() + pass.size() + 2);
    token.append(1, '\0').append(user).append(1, '\0').append(pass);
    std::string command = "AUTH PLAIN " + Base64(token);
    WipeOnExit wipe_command{command};
    return channel_->SendCommand(command, "235", kQrAuthRefused);
  }
  std::string secret = Base64(pass);
  WipeOnExit wipe_secret{secret};
  return channel_->SendCommand("AUTH LOGIN", "334", kQrAuthRefused) &&
         channel_->SendCommand(Base64(user), "334", kQrAuthRefused) &&
         channel_->SendCommand(secret, "235", kQrAuthRefused);
}

bool SmtpDialogue::Send() {
  const SessionRequest& request = channel_->Request();
  return channel_->SendCommand("MAIL FROM:<" + request.from + ">", "250", kQrSendRefused) &&
         channel_->SendCommand("RCPT TO:<" + request.to + ">", "250", kQrSendRefused) &&
         channel_->SendCommand("DATA", "354", kQrSendRefused) &&
         channel_->SendCommand(BuildSmtpDataBlock(request.text), "250", kQrSendRefused);
}

}  // namespace dovrik
