// The POP3 side of a session, and the pieces of it that stand on their own.
#pragma once

#include <string>
#include <string_view>

#include "engine/session.h"

namespace dovrik {

// Reads the two numbers of a STAT reply (the whole receive buffer, CR LF included) into
// aCount and aSize. Without two blank-separated fields behind the status word both stay as they
// are and the result is false; a field that is not an integer gives -1.
bool ParseStatReply(std::string_view aReply, int& aCount, int& aSize);

// Reads the id of message aNumber from a UIDL reply ("+OK 2 id" CR LF) into anId. False, with
// anId unchanged, for a refusal, another number or an id that is not 1 to 70 printable characters.
bool ParseUidlReply(std::string_view aReply, int aNumber, std::string& anId);

// Greeting, STLS when chosen, USER with LIST as an access probe, PASS as often as the owner
// gives a password, the action's own command, and QUIT, whose answer only a delete awaits.
class Pop3Dialogue final : public Dialogue {
 public:
  void Run(ReplyChannel& aChannel) override;

 private:
  bool Greeting();
  bool StartTls();
  bool Login();
  // PASS until the server takes one or the owner gives none.
  bool PasswordLoop();
  void Stat();
  void Retrieve();
  // True when DELE was accepted: its QUIT's answer is then awaited.
  bool Delete();
  // For a guarded delete: true when the mailbox is still the one the guard describes. Records the
  // failure otherwise.
  bool MailboxUnchanged(const tDeleteGuard& aGuard);
  void RecordUidl();
  void Quit(bool anAwaitAnswer);

  ReplyChannel* channel_ = nullptr;
};

}  // namespace dovrik
