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
#include "engine/security.h"
#include "engine/session_link.h"
#include "platform/timer.h"
#include "socket/component.h"

namespace dovrik {

class tCheckThread;
class tSessionLink;

class TQuorrel : public TComponent, private SessionHost {
 public:
  explicit TQuorrel(TComponent* AOwner = nullptr);
  ~TQuorrel() override;

  // ---- published properties ----
  std::string UserName() const;
  void SetUserName(const std::string& value);
  const std::string& InServer() const { return FInServer; }
  void SetInServer(const std::string& value) { FInServer = value; }
  const std::string& OutServer() const { return FOutServer; }
  void SetOutServer(const std::string& value) { FOutServer = value; }
  const std::string& InPort() const { return FInPort; }
  void SetInPort(const std::string& value) { FInPort = value; }
  const std::string& OutPort() const { return FOutPort; }
  void SetOutPort(const std::string& value) { FOutPort = value; }
  bool CheckActive() const;
  void SetCheckActive(bool value);
  int CheckEvery() const { return FCheckEvery; }
  void SetCheckEvery(int value);
  int TimeOut() const;
  void SetTimeOut(int value);

  tActionEvent OnActionStart;
  tActionEvent OnActionDone;
  tOnGetPassEvent OnGetPass;

  // ---- encryption (quorrel_security.cpp); copied into each session when it starts ----
  SecurityMode InSecurity() const;
  void SetInSecurity(SecurityMode value);
  SecurityMode OutSecurity() const;
  void SetOutSecurity(SecurityMode value);
  // SHA-256 fingerprints ("AB:CD:…", any case, colons optional) of certificates the user trusts
  // for that server although no trusted authority vouches for them.
  std::vector<std::string> InTrusted() const;
  void SetInTrusted(std::vector<std::string> value);
  std::vector<std::string> OutTrusted() const;
  void SetOutTrusted(std::vector<std::string> value);
  // PEM file of the authorities to trust in place of the system's store; empty: the system's.
  std::string CaFile() const;
  void SetCaFile(const std::string& value);
  // Asked when a certificate comes from no trusted authority; unassigned: such a server is
  // refused (kQrCertUntrusted).
  tOnTrustCertificateEvent OnTrustCertificate;

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
  // The session's side of the engine (SessionHost), reached only through the link.
  void StoreResult(tQrAction anAction, SessionResult& aResult) override;
  void ForgetSessionLocked(const tCheckThread* aSession) override;
  void SessionDone(tCheckThread* aSession, tQrAction anAction) override;
  void AskPassword(std::string& aPass) override;
  void AskTrust(const tQrCertificate& aCertificate, tQrTrust& anAnswer) override;

  // The action's inputs as one value, built under the link's lock; aFill adds the action's own.
  bool Start(tQrAction anAction, const std::function<void(SessionRequest&)>& aFill);
  SessionRequest RequestLocked(tQrAction anAction) const;
  void TimerTick();
  void RestartTimer();

  std::unique_ptr<platform::Timer> FTimer;
  tQrError FErrors[kQrActionCount];
  // Not owned: each session frees itself. Under the link's lock: a session that can't report its
  // end takes itself out before it frees itself.
  std::vector<tCheckThread*> FSessions;
  std::shared_ptr<const std::string> FMessageText;
  std::string FMessageUidl;

  std::string FUserName;
  std::string FInServer;
  std::string FOutServer;
  std::string FInPort;
  std::string FOutPort;
  int FCheckEvery = 0;
  int FMessageCount = 0;
  int FMailboxSize = 0;

  SecurityMode FInSecurity = SecurityMode::kNone;
  SecurityMode FOutSecurity = SecurityMode::kNone;
  std::vector<std::string> FInTrusted;
  std::vector<std::string> FOutTrusted;
  std::string FCaFile;

  // Its lock guards every field a session's request is copied from or its result lands in, and
  // it holds the time-out.
  std::shared_ptr<tSessionLink> FLink;
};

}  // namespace dovrik
