// TQuorrel: the mail engine. Holds the mail settings, runs the periodic check and starts the four
// mail actions, each as one session on a worker thread of its own (tCheckThread). Everything
// public runs on the main thread; its events are delivered there too.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "engine/engine_types.h"
#include "platform/timer.h"
#include "socket/component.h"

namespace dovrik {

class tCheckThread;

// What the engine shares with its sessions. Sessions reach the engine only through this link,
// under its lock, so the engine can detach them when it is destroyed while they still run.
struct tSessionLink {
  std::mutex Lock;
  TQuorrel* Engine = nullptr;  // null once the engine is gone
};

class TQuorrel : public TComponent {
 public:
  explicit TQuorrel(TComponent* AOwner = nullptr);
  ~TQuorrel() override;

  // ---- published properties ----
  std::string UserName() const;
  void SetUserName(const std::string& Value);
  const std::string& InServer() const { return FInServer; }
  void SetInServer(const std::string& Value) { FInServer = Value; }
  const std::string& OutServer() const { return FOutServer; }
  void SetOutServer(const std::string& Value) { FOutServer = Value; }
  const std::string& InPort() const { return FInPort; }
  void SetInPort(const std::string& Value) { FInPort = Value; }
  const std::string& OutPort() const { return FOutPort; }
  void SetOutPort(const std::string& Value) { FOutPort = Value; }
  bool CheckActive() const;
  void SetCheckActive(bool Value);
  int CheckEvery() const { return FCheckEvery; }
  void SetCheckEvery(int Value);
  int TimeOut() const;
  void SetTimeOut(int Value);

  tActionEvent OnActionStart;
  tActionEvent OnActionDone;
  tOnGetPassEvent OnGetPass;

  // ---- public read-only members ----
  int MessageCount() const;
  int MailboxSize() const;
  std::string MessageText() const;
  // The same text without a copy; stays valid after the next retrieval replaces it.
  std::shared_ptr<const std::string> MessageTextShared() const;
  // The server's unique id of the last retrieved message (UIDL), kept with MessageText; empty when
  // the server did not give one.
  std::string MessageUidl() const;
  int ErrorCode(tQrAction anAction) const;
  std::string ErrorText(tQrAction anAction) const;

  // ---- operations (main thread) ----
  bool Check();
  bool GetMessage(int aNumber);
  bool DeleteMessage(int aNumber);
  // A delete that first verifies the mailbox is still the one the user saw (STAT against the
  // guard's count and size, UIDL against its id, each when given); if not, nothing is deleted and
  // the action fails with kQrMailboxChanged.
  bool DeleteMessage(int aNumber, const tDeleteGuard& aGuard);
  bool SendMail(const std::string& aFrom, const std::string& aTo, const std::string& aText);
  bool ParseMessage(std::string_view aText, tQrMessage& aMessage) const;

  bool IsBusy(tQrAction anAction) const;
  tCheckThread* FindSession(tQrAction anAction) const;
  // The check timer, for the owner's and tests' inspection.
  const platform::Timer& CheckTimer() const { return *FTimer; }

 private:
  friend class tCheckThread;

  // For the sessions: called with the link's lock held.
  void SetError(tQrAction anAction, int aCode, const std::string& aText);
  void SetErrorCode(tQrAction anAction, int aCode);
  // On the main thread, at the request of the ending session.
  void SessionDone(tCheckThread* aSession, tQrAction anAction);
  void RemoveSession(tCheckThread* aSession);
  // For a session that ends while the main thread no longer serves it: with the lock held.
  void RemoveSessionLocked(tCheckThread* aSession);

  std::unique_ptr<tCheckThread> StartAction(tQrAction anAction, bool aSend);
  void ResumeSession(std::unique_ptr<tCheckThread> aSession);
  // Starts the action and stores its inputs (under the engine lock) before the session runs.
  bool Start(tQrAction anAction, bool aSend, const std::function<void()>& aStoreInputs);
  void TimerTick();
  void RestartTimer();

  std::unique_ptr<platform::Timer> FTimer;
  tQrError FErrors[kQrActionCount];
  // Not owned: each session frees itself. Under the link's lock: a session that can't report its
  // end takes itself out before it frees itself.
  std::vector<tCheckThread*> FSessions;
  int FGetNumber = 0;
  int FDeleteNumber = 0;
  bool FDeleteGuarded = false;
  tDeleteGuard FDeleteGuard;
  std::shared_ptr<const std::string> FMessageText;
  std::string FMessageUidl;
  std::string FSendFrom;
  std::string FSendTo;
  std::string FSendText;

  std::string FUserName;
  std::string FInServer;
  std::string FOutServer;
  std::string FInPort;
  std::string FOutPort;
  int FCheckEvery = 0;
  int FTimeOut = 0;
  int FMessageCount = 0;
  int FMailboxSize = 0;

  // Guards every field a session reads or writes (and the engine pointer in it).
  std::shared_ptr<tSessionLink> FLink;
};

}  // namespace dovrik
