// The POP3 side of a session as named steps over the command/reply layer.
#include "engine/pop3_dialogue.h"

#include <string>
#include <string_view>

#include "engine/str_to_int_def_trim.h"
#include "engine/text_lines.h"

namespace dovrik {

bool ParseStatReply(std::string_view aReply, int& aCount, int& aSize) {
  const std::size_t p = aReply.find(' ');
  if (p == std::string_view::npos) return false;
  // The blank's position is taken in the untrimmed reply and applied to the trimmed one.
  const std::string_view trimmed = TrimBlanks(aReply);
  const std::string_view t = p + 1 <= trimmed.size() ? trimmed.substr(p + 1) : std::string_view{};
  const std::size_t q = t.find(' ');
  if (q == std::string_view::npos) return false;
  aCount = StrToIntDefTrim(t.substr(0, q), -1);
  aSize = StrToIntDefTrim(t.substr(q + 1), -1);
  return true;
}

bool ParseUidlReply(std::string_view aReply, int aNumber, std::string& anId) {
  // "+OK" SP number SP id CR LF; the id is 1 to 70 printable characters.
  const std::string_view line = aReply.substr(0, aReply.find("\r\n"));
  if (!line.starts_with("+OK ")) return false;
  std::string_view rest = line.substr(4);
  const std::size_t blank = rest.find(' ');
  if (blank == std::string_view::npos) return false;
  if (StrToIntDefTrim(rest.substr(0, blank), -1) != aNumber) return false;
  const std::string_view id = TrimBlanks(rest.substr(blank + 1));
  if (id.empty() || id.size() > 70) return false;
  for (const char c : id)
    if (c < 0x21 || c > 0x7e) return false;
  anId.assign(id);
  return true;
}

void Pop3Dialogue::Run(ReplyChannel& aChannel) {
  channel_ = &aChannel;
  if (!Greeting() || !StartTls()) return;
  bool await_quit = false;  // set once a DELE was accepted
  if (Login()) {
    switch (channel_->Request().action) {
      case acCheck:
        Stat();
        break;
      case acGetMessage:
        Retrieve();
        break;
      case acDelete:
        await_quit = Delete();
        break;
      default:
        break;
    }
  }
  if (channel_->StoppedForSize()) return;  // the connection is closed already
  Quit(await_quit);
}

bool Pop3Dialogue::Greeting() {
  if (channel_->WaitReply("+OK")) return true;
  // A silent server keeps its "Timeout"; a wrong or missing greeting is not an empty mailbox.
  if (channel_->ErrorCode() == kQrOk) channel_->Fail(kQrInvalidHello, kQrInvalidHelloText);
  return false;
}

bool Pop3Dialogue::StartTls() {
  if (channel_->Request().security != SecurityMode::kStartTls) return true;
  const ProtocolInfo& pop3 = Protocol(ProtocolId::kPop3);
  if (channel_->UpgradeToTls(std::string(pop3.starttls_command),
                             std::string(pop3.starttls_go_ahead)))
    return true;
  // Polite and harmless: QUIT carries nothing of the user's.
  if (channel_->ErrorCode() == kQrTlsNotOffered && channel_->Connected())
    channel_->SendLine("QUIT");
  return false;
}

bool Pop3Dialogue::Login() {
  const std::string user = "USER " + channel_->Request().user;
  if (!channel_->SendCommand(user, "+OK", kQrUserRefused)) return false;
  const bool ok = channel_->SendCommand("LIST", "+OK", kQrLoginFailed) || PasswordLoop();
  std::string& pass = channel_->Password();
  Wipe(pass);
  pass.clear();
  return ok;
}

bool Pop3Dialogue::PasswordLoop() {
  bool retry = false;
  for (;;) {
    // No password can help a connection that is gone or a reply stopped for its size, and
    // clearing the failure below would then report the session as a success.
    if (!channel_->Connected() || channel_->StoppedForSize()) return false;
    if (!channel_->RequestPassword()) return false;
    const std::string& pass = channel_->Password();
    channel_->ClearFailure();
    if (pass.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
      // It would end the PASS line early and send its rest as a command of its own.
      channel_->Fail(kQrUnsafePassword, kQrUnsafePasswordText);
      return false;
    }
    // A server forgets the user name after a refused PASS (PASS is valid only right after USER),
    // so a second try without USER could never succeed, whatever the password.
    if (retry && !channel_->SendCommand("USER " + channel_->Request().user, "+OK", kQrUserRefused))
      return false;
    retry = true;
    std::string command = "PASS " + pass;
    WipeOnExit wipe{command};
    if (channel_->SendCommand(command, "+OK", kQrLoginFailed)) return true;
  }
}

void Pop3Dialogue::Stat() {
  if (!channel_->SendCommand("STAT", "+OK", kQrStatRefused)) return;
  int count = 0;
  int size = 0;
  if (!ParseStatReply(channel_->Reply(), count, size)) return;
  SessionResult& result = channel_->Result();
  result.has_stat = true;
  result.message_count = count;
  result.mailbox_size = size;
}

void Pop3Dialogue::Retrieve() {
  channel_->ExpectSizedReply();
  if (channel_->SendCommand("RETR " + std::to_string(channel_->Request().number), "+OK",
                            kQrCommandRefused) &&
      channel_->CollectMessage())
    RecordUidl();
}

void Pop3Dialogue::RecordUidl() {
  // The message's unique id lets a later delete make sure it deletes this very message. A server
  // without UIDL just leaves it empty.
  const int number = channel_->Request().number;
  std::string id;
  if (channel_->SendOptionalCommand("UIDL " + std::to_string(number), "+OK"))
    ParseUidlReply(channel_->Reply(), number, id);
  channel_->Result().message_uidl = std::move(id);
}

bool Pop3Dialogue::Delete() {
  const SessionRequest& request = channel_->Request();
  if (request.delete_guard && !MailboxUnchanged(*request.delete_guard)) return false;
  return channel_->SendCommand("DELE " + std::to_string(request.number), "+OK", kQrCommandRefused);
}

bool Pop3Dialogue::MailboxUnchanged(const tDeleteGuard& aGuard) {
  // Message numbers shift when mail is deleted elsewhere: deleting by number is safe only while
  // the mailbox is the one the user saw.
  if (aGuard.ExpectedCount >= 0 || aGuard.ExpectedSize >= 0) {
    if (!channel_->SendCommand("STAT", "+OK", kQrStatRefused)) return false;
    int count = -1;
    int size = -1;
    ParseStatReply(channel_->Reply(), count, size);
    if ((aGuard.ExpectedCount >= 0 && count != aGuard.ExpectedCount) ||
        (aGuard.ExpectedSize >= 0 && size != aGuard.ExpectedSize)) {
      channel_->Fail(kQrMailboxChanged, kQrMailboxChangedText);
      return false;
    }
  }
  if (aGuard.ExpectedUidl.empty()) return true;
  const int number = channel_->Request().number;
  if (!channel_->SendOptionalCommand("UIDL " + std::to_string(number), "+OK")) {
    // A server without UIDL refuses it: the count and size are all there is to go by.
    if (channel_->Reply().starts_with("-ERR")) return true;
    channel_->Fail(kQrCommandRefused, channel_->Reply());
    return false;
  }
  std::string id;
  if (!ParseUidlReply(channel_->Reply(), number, id) || id != aGuard.ExpectedUidl) {
    channel_->Fail(kQrMailboxChanged, kQrMailboxChangedText);
    return false;
  }
  return true;
}

void Pop3Dialogue::Quit(bool anAwaitAnswer) {
  channel_->SendLine("QUIT");
  if (!anAwaitAnswer) return;
  // A server removes a deleted message only when it answers QUIT: until then the delete is not
  // done, and a check started at its end could still find the message. The server closes the
  // connection after its answer, so the answer alone is judged.
  channel_->WaitReply("+OK");
  if (channel_->ErrorCode() == kQrOk && !channel_->Reply().starts_with("+OK"))
    channel_->Fail(kQrCommandRefused, channel_->Reply());
}

}  // namespace dovrik
