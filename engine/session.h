// What a session is given when it starts, what it hands back when it ends, and the two halves of
// a session: the command/reply layer over the connection (ReplyChannel, run by tCheckThread) and
// one protocol's dialogue over it (Dialogue). Core: no Qt.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/engine_types.h"
#include "engine/protocols.h"
#include "engine/security.h"

namespace dovrik {

// Everything a session needs, copied from the engine under its lock when the action starts: the
// session never reads the engine's fields. The time-out is not here: a running wait follows the
// engine's current value (see tSessionLink::TimeOut).
struct SessionRequest {
  ProtocolId protocol = ProtocolId::kPop3;
  tQrAction action = acNone;
  std::string server;
  std::string port;
  std::string user;
  SecurityMode security = SecurityMode::kNone;
  std::vector<std::string> trusted;  // that server's trusted fingerprints
  std::string ca_file;
  int number = 0;                            // the message to retrieve or delete
  std::optional<tDeleteGuard> delete_guard;  // a delete that verifies the mailbox first
  std::string from;                          // a send
  std::string to;
  std::string text;
};

// What a session found out. The engine stores it when the session ends, before OnActionDone.
struct SessionResult {
  int code = kQrOk;
  std::optional<std::string> text;  // unset: the engine's previous text stays, as with a success
  // A check that read STAT.
  bool has_stat = false;
  int message_count = 0;
  int mailbox_size = 0;
  // A retrieval that got its message (null: none, the previous one stays); the id goes with it.
  std::shared_ptr<const std::string> message_text;
  std::string message_uidl;
};

// The command/reply layer a dialogue speaks over. Replies are framed by the protocol's
// ReplyStyle; every wait ends on the reply, on silence longer than the time-out, on the
// connection's end or on the session being stopped. A failure is recorded once: the first size
// bound that was hit stands whatever is recorded after it.
// A protocol with tagged replies adds its ReplyStyle (the reply ends with the line that carries
// the command's tag) and reads a literal ({n} then n bytes) the way CollectMessage reads up to
// its end line: the dialogue above stays a sequence of commands and judged replies.
class ReplyChannel {
 public:
  virtual const SessionRequest& Request() const = 0;
  virtual SessionResult& Result() = 0;
  virtual void Fail(int aCode, const std::string& aText) = 0;
  virtual int ErrorCode() const = 0;
  // Takes back what was recorded, whatever it was: a new password is a fresh try.
  virtual void ClearFailure() = 0;

  // The last reply, whole (CR LF included).
  virtual const std::string& Reply() const = 0;
  virtual bool WaitReply(const std::string& aCode) = 0;
  // Sends the line, awaits its reply: true when it starts with aCode, else anError with the reply
  // as its text (unless the wait recorded its own failure).
  virtual bool SendCommand(const std::string& aCommand, const std::string& aCode, int anError) = 0;
  // A command whose refusal the dialogue can live with: nothing is recorded whatever the reply.
  virtual bool SendOptionalCommand(const std::string& aCommand, const std::string& aCode) = 0;
  // Sends without awaiting any reply.
  virtual void SendLine(const std::string& aLine) = 0;
  // The next reply's status line may announce the size of what follows: room is made for it.
  virtual void ExpectSizedReply() = 0;
  // The answer to the last command runs to a "." line: waits for it and keeps the whole text in
  // the result. False when it was cut short (kept, marked) or stopped for its size (not kept).
  virtual bool CollectMessage() = 0;

  // Asks the owner on the main thread; true with a password that is not blank.
  virtual bool RequestPassword() = 0;
  // The password given last; wiped by the session.
  virtual std::string& Password() = 0;
  // Sends aCommand, and on aCode starts TLS and judges the certificate.
  virtual bool UpgradeToTls(const std::string& aCommand, const std::string& aCode) = 0;
  virtual bool TlsEstablished() const = 0;

  virtual bool Connected() const = 0;
  // A reply outgrew its bound: the connection is closed already.
  virtual bool StoppedForSize() const = 0;
  // This end's address as an address literal ("[127.0.0.1]").
  virtual std::string LocalAddressLiteral() = 0;

 protected:
  ~ReplyChannel() = default;
};

// Zeroes a text that may hold the password before its memory goes back to the heap; the guard
// does so however the scope is left.
void Wipe(std::string& aText);
struct WipeOnExit {
  std::string& text;
  ~WipeOnExit() { Wipe(text); }
};

// Ends the text of every failure of an encrypted session.
inline constexpr const char* kNothingSentText = ". The user name and password were not sent.";

// One protocol's side of a session: from the greeting to the end of the action.
class Dialogue {
 public:
  virtual ~Dialogue() = default;
  virtual void Run(ReplyChannel& aChannel) = 0;
};

std::unique_ptr<Dialogue> MakeDialogue(ProtocolId aProtocol);

}  // namespace dovrik
