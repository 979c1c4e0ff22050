// tCheckThread: one mail exchange on a worker thread of its own. It owns its socket for the length
// of the session, pumps that socket's notifications itself, and runs the POP3 or SMTP dialogue
// inside the socket's connection event. It reports only through the engine's result table.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "engine/engine_types.h"
#include "platform/thread.h"
#include "socket/wsocket.h"

namespace dovrik {

struct tSessionLink;

class tCheckThread : public platform::Thread {
 public:
  // Created suspended; frees itself when its run ends (after Resume nobody else may delete it).
  tCheckThread(std::string aAddr, std::string aPort, tQrAction anAction,
               std::shared_ptr<tSessionLink> anOwner, bool aSend);
  ~tCheckThread() override;

  tQrAction Action() const { return FAction; }

 protected:
  void Execute() override;

 private:
  // Marks the dialogue as ended however it is left, exceptions included.
  struct DoneOnExit {
    bool& done;
    ~DoneOnExit() { done = true; }
  };

  bool WaitReply(const std::string& aCode);
  bool SendCommand(const std::string& aCommand, const std::string& aCode, int anError);
  // A command whose refusal the dialogue can live with: nothing is recorded whatever the reply (a
  // time-out the wait recorded is taken back). True when the reply starts with "+OK".
  bool SendOptionalCommand(const std::string& aCommand);
  bool WaitMessageEnd();
  void RequestPassword();
  // Refuses, before anything is sent, a user name or address that would end its command line.
  bool InputsAreSafe();

  void SocketDataAvailable(TObject* Sender, Word Error);
  void SocketChangeState(TObject* Sender, TSocketState OldState, TSocketState NewState);
  void Pop3Dialogue(TObject* Sender, Word Error);
  void SmtpDialogue(TObject* Sender, Word Error);

  // Zeroes a text that may hold the password before its memory goes back to the heap; the guard
  // does so however the scope is left.
  static void Wipe(std::string& aText);
  struct WipeOnExit {
    std::string& text;
    ~WipeOnExit() { Wipe(text); }
  };

  // One "sleep 100 ms, then pump": ends early when a message arrives for this thread.
  void WaitAndPump();
  bool TimedOut(double aReference) const;
  // Engine access through the link; harmless once the engine is gone.
  void SetError(int aCode, const std::string& aText);
  int ErrorCode() const;
  int TimeOut() const;
  std::string UserName() const;
  bool ReplyComplete();
  bool ReplyHasMessageEnd();
  // Makes room for aNeed bytes ahead of time (never past the bound), keeping room for the
  // "<truncated>" marker so that ending a message never copies it.
  void GrowFor(std::size_t aNeed);
  // Past a bound: records the failure, frees the buffer and closes the connection, so nothing more
  // is read.
  void StopForSize(int aCode, const char* aText);
  // True when the whole message arrived; false when it was cut short or stopped for its size.
  bool CollectMessage();
  void ReserveForMessage();
  void RecordUidl(int aNumber);
  // For a guarded delete: true when the mailbox is still the one the guard describes. Records the
  // failure otherwise.
  bool MailboxUnchanged(int aNumber, const tDeleteGuard& aGuard);
  // Runs f(engine) under the link's lock when the engine still exists; false otherwise.
  bool WithEngine(const std::function<void(TQuorrel&)>& f) const;

  std::unique_ptr<TWSocket> FSocket;
  tQrAction FAction;
  std::shared_ptr<tSessionLink> FOwner;
  bool FDone = false;
  TSocketState FState = wsInvalidState;
  std::string FReply;
  std::string FAddr;
  std::string FPort;
  bool FSend;
  bool FGotPass = false;
  std::string FPass;
  // Where the searches of FReply resume: FReply only grows until WaitReply empties it, so bytes
  // that were searched once are never searched again.
  std::size_t FLineScan = 0;
  std::size_t FEndScan = 0;
  // Set before RETR: the first line of its answer may announce the size to make room for.
  bool FSizeHint = false;
  // While a reply's status lines are awaited their length is bounded; FLineStart is where the
  // line not yet seen whole begins (SMTP replies run over several lines).
  bool FAwaitingReply = false;
  std::size_t FLineStart = 0;
  // Set once a reply outgrew its bound: the recorded failure stands, whatever fails after it.
  bool FStoppedForSize = false;
};

}  // namespace dovrik
