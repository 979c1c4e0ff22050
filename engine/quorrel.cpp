#include "engine/quorrel.h"

#include <algorithm>
#include <climits>
#include <utility>

#include "engine/check_thread.h"
#include "engine/message_parser.h"
#include "socket/wsocket.h"

namespace dovrik {

TQuorrel::TQuorrel(TComponent* AOwner)
    : TComponent(AOwner),
      FTimer(std::make_unique<platform::Timer>()),
      FMessageText(std::make_shared<const std::string>()),
      FUserName("SomeUser"),
      FInPort(Protocol(ProtocolId::kPop3).default_service),
      FOutPort(Protocol(ProtocolId::kSmtp).default_service),
      FLink(std::make_shared<tSessionLink>(static_cast<SessionHost*>(this))) {
  FTimer->OnTimer = [this] { TimerTick(); };
}

TQuorrel::~TQuorrel() {
  // Sessions still in the list are alive: each leaves it only through SessionDone, which runs on
  // this (the main) thread. Flag them first, then detach them, so none touches the engine again;
  // they are not awaited, and a report still queued for the main thread finds no engine.
  {
    std::lock_guard<std::mutex> guard(FLink->Lock());
    for (tCheckThread* session : FSessions)
      if (!session->Terminated()) session->Terminate();
    FLink->DetachLocked();
    FSessions.clear();
  }
  FTimer.reset();
}

std::string TQuorrel::UserName() const {
  std::lock_guard<std::mutex> guard(FLink->Lock());
  return FUserName;
}

void TQuorrel::SetUserName(const std::string& value) {
  std::lock_guard<std::mutex> guard(FLink->Lock());
  FUserName = value;
}

bool TQuorrel::CheckActive() const {
  return FTimer->Enabled();
}

void TQuorrel::RestartTimer() {
  FTimer->SetEnabled(false);
  // Seconds beyond the timer's millisecond range wait as long as it can; a wrapped product
  // would poll the server every few milliseconds.
  const unsigned long long ms = static_cast<unsigned long long>(FCheckEvery) * 1000u;
  FTimer->SetInterval(static_cast<unsigned>(std::min<unsigned long long>(ms, UINT_MAX)));
  FTimer->SetEnabled(true);
}

void TQuorrel::SetCheckActive(bool value) {
  if (value)
    RestartTimer();
  else
    FTimer->SetEnabled(false);
}

void TQuorrel::SetCheckEvery(int value) {
  value = std::max(value, 10);
  if (value == FCheckEvery) return;
  FCheckEvery = value;
  if (CheckActive()) RestartTimer();
}

int TQuorrel::TimeOut() const {
  return FLink->TimeOut();
}

void TQuorrel::SetTimeOut(int value) {
  FLink->SetTimeOut(std::max(value, 10));
}

int TQuorrel::MessageCount() const {
  std::lock_guard<std::mutex> guard(FLink->Lock());
  return FMessageCount;
}

int TQuorrel::MailboxSize() const {
  std::lock_guard<std::mutex> guard(FLink->Lock());
  return FMailboxSize;
}

std::string TQuorrel::MessageText() const {
  return *MessageTextShared();
}

std::shared_ptr<const std::string> TQuorrel::MessageTextShared() const {
  std::lock_guard<std::mutex> guard(FLink->Lock());
  return FMessageText;
}

std::string TQuorrel::MessageUidl() const {
  std::lock_guard<std::mutex> guard(FLink->Lock());
  return FMessageUidl;
}

int TQuorrel::ErrorCode(tQrAction anAction) const {
  std::lock_guard<std::mutex> guard(FLink->Lock());
  return FErrors[anAction].Code;
}

std::string TQuorrel::ErrorText(tQrAction anAction) const {
  std::lock_guard<std::mutex> guard(FLink->Lock());
  return FErrors[anAction].Msg;
}

bool TQuorrel::IsBusy(tQrAction anAction) const {
  std::lock_guard<std::mutex> guard(FLink->Lock());
  return std::any_of(FSessions.begin(), FSessions.end(), [anAction](tCheckThread* s) {
    return s->Action() == anAction && !s->Terminated();
  });
}

tCheckThread* TQuorrel::FindSession(tQrAction anAction) const {
  std::lock_guard<std::mutex> guard(FLink->Lock());
  auto it = std::find_if(FSessions.begin(), FSessions.end(),
                         [anAction](tCheckThread* s) { return s->Action() == anAction; });
  return it == FSessions.end() ? nullptr : *it;
}

SessionRequest TQuorrel::RequestLocked(tQrAction anAction) const {
  const bool send = anAction == acSend;
  SessionRequest r;
  r.protocol = send ? ProtocolId::kSmtp : ProtocolId::kPop3;
  r.action = anAction;
  r.server = send ? FOutServer : FInServer;
  r.port = send ? FOutPort : FInPort;
  r.user = FUserName;
  r.security = send ? FOutSecurity : FInSecurity;
  r.trusted = send ? FOutTrusted : FInTrusted;
  r.ca_file = FCaFile;
  return r;
}

bool TQuorrel::Start(tQrAction anAction, const std::function<void(SessionRequest&)>& aFill) {
  if (IsBusy(anAction)) return false;
  if (OnActionStart) OnActionStart(this, anAction);
  SessionRequest request;
  {
    std::lock_guard<std::mutex> guard(FLink->Lock());
    if (anAction == acCheck) {
      FMessageCount = 0;
      FMailboxSize = 0;
    }
    request = RequestLocked(anAction);
  }
  aFill(request);
  auto session = std::make_unique<tCheckThread>(std::move(request), FLink);
  {
    std::lock_guard<std::mutex> guard(FLink->Lock());
    // The running action has no failure yet; its text stays until the session gives one.
    FErrors[anAction].Code = kQrOk;
    FSessions.push_back(session.get());
  }
  try {
    session->Resume();
  } catch (...) {
    // A thread that never ran must not keep its action busy; the failure goes to the caller.
    {
      std::lock_guard<std::mutex> guard(FLink->Lock());
      FSessions.erase(std::find(FSessions.begin(), FSessions.end(), session.get()));
    }
    throw;
  }
  // From here on the session owns itself and frees itself when its run ends.
  (void)session.release();
  return true;
}

bool TQuorrel::Check() {
  return Start(acCheck, [](SessionRequest&) {});
}

bool TQuorrel::GetMessage(int aNumber) {
  return Start(acGetMessage, [&](SessionRequest& r) { r.number = aNumber; });
}

bool TQuorrel::DeleteMessage(int aNumber) {
  return Start(acDelete, [&](SessionRequest& r) { r.number = aNumber; });
}

bool TQuorrel::DeleteMessage(int aNumber, const tDeleteGuard& aGuard) {
  return Start(acDelete, [&](SessionRequest& r) {
    r.number = aNumber;
    r.delete_guard = aGuard;
  });
}

bool TQuorrel::SendMail(const std::string& aFrom, const std::string& aTo,
                        const std::string& aText) {
  return Start(acSend, [&](SessionRequest& r) {
    r.from = aFrom;
    r.to = aTo;
    r.text = aText;
  });
}

bool TQuorrel::ParseMessage(std::string_view aText, tQrMessage& aMessage) const {
  return dovrik::ParseMessage(aText, aMessage);
}

void TQuorrel::StoreResult(tQrAction anAction, SessionResult& aResult) {
  FErrors[anAction].Code = aResult.code;
  if (aResult.text) FErrors[anAction].Msg = std::move(*aResult.text);
  if (aResult.has_stat) {
    FMessageCount = aResult.message_count;
    FMailboxSize = aResult.mailbox_size;
  }
  if (aResult.message_text) {
    FMessageText = std::move(aResult.message_text);
    FMessageUidl = std::move(aResult.message_uidl);
  }
}

void TQuorrel::ForgetSessionLocked(const tCheckThread* aSession) {
  auto it = std::find(FSessions.begin(), FSessions.end(), aSession);
  if (it != FSessions.end()) FSessions.erase(it);
}

void TQuorrel::SessionDone(tCheckThread* aSession, tQrAction anAction) {
  {
    std::lock_guard<std::mutex> guard(FLink->Lock());
    ForgetSessionLocked(aSession);
  }
  if (OnActionDone) OnActionDone(this, anAction);
}

void TQuorrel::AskPassword(std::string& aPass) {
  if (OnGetPass) OnGetPass(this, aPass);
}

void TQuorrel::AskTrust(const tQrCertificate& aCertificate, tQrTrust& anAnswer) {
  if (!OnTrustCertificate) return;
  OnTrustCertificate(this, aCertificate, anAnswer);
  if (anAnswer != trAlways) return;
  std::lock_guard<std::mutex> guard(FLink->Lock());
  auto& list = aCertificate.Incoming ? FInTrusted : FOutTrusted;
  const std::string mine = NormalFingerprint(aCertificate.Fingerprint);
  if (std::none_of(list.begin(), list.end(),
                   [&](const std::string& t) { return NormalFingerprint(t) == mine; }))
    list.push_back(aCertificate.Fingerprint);
}

void TQuorrel::TimerTick() {
  if (CheckActive()) Check();
}

}  // namespace dovrik
