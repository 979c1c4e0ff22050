#include "engine/quorrel.h"

#include <algorithm>
#include <climits>
#include <utility>

#include "engine/check_thread.h"
#include "engine/message_parser.h"

namespace dovrik {

TQuorrel::TQuorrel(TComponent* AOwner)
    : TComponent(AOwner),
      FTimer(std::make_unique<platform::Timer>()),
      FMessageText(std::make_shared<const std::string>()),
      FUserName("SomeUser"),
      FInPort("pop3"),
      FOutPort("smtp"),
      FLink(std::make_shared<tSessionLink>()) {
  FLink->Engine = this;
  FTimer->OnTimer = [this] { TimerTick(); };
}

TQuorrel::~TQuorrel() {
  // Sessions still in the list are alive: each leaves it only through SessionDone, which runs on
  // this (the main) thread. Flag them first, then detach them, so none touches the engine again;
  // they are not awaited, and a report still queued for the main thread finds no engine.
  {
    std::lock_guard<std::mutex> guard(FLink->Lock);
    for (tCheckThread* session : FSessions)
      if (!session->Terminated()) session->Terminate();
    FLink->Engine = nullptr;
    FSessions.clear();
  }
  FTimer.reset();
}

std::string TQuorrel::UserName() const {
  std::lock_guard<std::mutex> guard(FLink->Lock);
  return FUserName;
}

void TQuorrel::SetUserName(const std::string& Value) {
  std::lock_guard<std::mutex> guard(FLink->Lock);
  FUserName = Value;
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

void TQuorrel::SetCheckActive(bool Value) {
  if (Value)
    RestartTimer();
  else
    FTimer->SetEnabled(false);
}

void TQuorrel::SetCheckEvery(int Value) {
  Value = std::max(Value, 10);
  if (Value == FCheckEvery) return;
  FCheckEvery = Value;
  if (CheckActive()) RestartTimer();
}

int TQuorrel::TimeOut() const {
  std::lock_guard<std::mutex> guard(FLink->Lock);
  return FTimeOut;
}

void TQuorrel::SetTimeOut(int Value) {
  std::lock_guard<std::mutex> guard(FLink->Lock);
  FTimeOut = std::max(Value, 10);
}

int TQuorrel::MessageCount() const {
  std::lock_guard<std::mutex> guard(FLink->Lock);
  return FMessageCount;
}

int TQuorrel::MailboxSize() const {
  std::lock_guard<std::mutex> guard(FLink->Lock);
  return FMailboxSize;
}

std::string TQuorrel::MessageText() const {
  return *MessageTextShared();
}

std::shared_ptr<const std::string> TQuorrel::MessageTextShared() const {
  std::lock_guard<std::mutex> guard(FLink->Lock);
  return FMessageText;
}

std::string TQuorrel::MessageUidl() const {
  std::lock_guard<std::mutex> guard(FLink->Lock);
  return FMessageUidl;
}

int TQuorrel::ErrorCode(tQrAction anAction) const {
  std::lock_guard<std::mutex> guard(FLink->Lock);
  return FErrors[anAction].Code;
}

std::string TQuorrel::ErrorText(tQrAction anAction) const {
  std::lock_guard<std::mutex> guard(FLink->Lock);
  return FErrors[anAction].Msg;
}

void TQuorrel::SetError(tQrAction anAction, int aCode, const std::string& aText) {
  FErrors[anAction].Code = aCode;
  FErrors[anAction].Msg = aText;
}

void TQuorrel::SetErrorCode(tQrAction anAction, int aCode) {
  FErrors[anAction].Code = aCode;
}

bool TQuorrel::IsBusy(tQrAction anAction) const {
  std::lock_guard<std::mutex> guard(FLink->Lock);
  return std::any_of(FSessions.begin(), FSessions.end(), [anAction](tCheckThread* s) {
    return s->Action() == anAction && !s->Terminated();
  });
}

tCheckThread* TQuorrel::FindSession(tQrAction anAction) const {
  std::lock_guard<std::mutex> guard(FLink->Lock);
  auto it = std::find_if(FSessions.begin(), FSessions.end(),
                         [anAction](tCheckThread* s) { return s->Action() == anAction; });
  return it == FSessions.end() ? nullptr : *it;
}

std::unique_ptr<tCheckThread> TQuorrel::StartAction(tQrAction anAction, bool aSend) {
  if (IsBusy(anAction)) return nullptr;
  if (OnActionStart) OnActionStart(this, anAction);
  if (anAction == acCheck) {
    std::lock_guard<std::mutex> guard(FLink->Lock);
    FMessageCount = 0;
    FMailboxSize = 0;
  }
  auto session = std::make_unique<tCheckThread>(aSend ? FOutServer : FInServer,
                                                aSend ? FOutPort : FInPort, anAction, FLink, aSend);
  {
    std::lock_guard<std::mutex> guard(FLink->Lock);
    FSessions.push_back(session.get());
  }
  return session;
}

void TQuorrel::ResumeSession(std::unique_ptr<tCheckThread> aSession) {
  try {
    aSession->Resume();
  } catch (...) {
    // A thread that never ran must not keep its action busy; the failure goes to the caller.
    {
      std::lock_guard<std::mutex> guard(FLink->Lock);
      FSessions.erase(std::find(FSessions.begin(), FSessions.end(), aSession.get()));
    }
    throw;
  }
  // From here on the session owns itself and frees itself when its run ends.
  aSession.release();
}

bool TQuorrel::Start(tQrAction anAction, bool aSend, const std::function<void()>& aStoreInputs) {
  auto session = StartAction(anAction, aSend);
  if (!session) return false;
  // The inputs are in place before the session runs, so it always sees them.
  {
    std::lock_guard<std::mutex> guard(FLink->Lock);
    aStoreInputs();
  }
  ResumeSession(std::move(session));
  return true;
}

bool TQuorrel::Check() {
  return Start(acCheck, false, [] {});
}

bool TQuorrel::GetMessage(int aNumber) {
  return Start(acGetMessage, false, [&] { FGetNumber = aNumber; });
}

bool TQuorrel::DeleteMessage(int aNumber) {
  return Start(acDelete, false, [&] {
    FDeleteNumber = aNumber;
    FDeleteGuarded = false;
  });
}

bool TQuorrel::DeleteMessage(int aNumber, const tDeleteGuard& aGuard) {
  return Start(acDelete, false, [&] {
    FDeleteNumber = aNumber;
    FDeleteGuarded = true;
    FDeleteGuard = aGuard;
  });
}

bool TQuorrel::SendMail(const std::string& aFrom, const std::string& aTo,
                        const std::string& aText) {
  return Start(acSend, true, [&] {
    FSendFrom = aFrom;
    FSendTo = aTo;
    FSendText = aText;
  });
}

bool TQuorrel::ParseMessage(std::string_view aText, tQrMessage& aMessage) const {
  return dovrik::ParseMessage(aText, aMessage);
}

void TQuorrel::SessionDone(tCheckThread* aSession, tQrAction anAction) {
  RemoveSession(aSession);
  if (OnActionDone) OnActionDone(this, anAction);
}

void TQuorrel::RemoveSession(tCheckThread* aSession) {
  std::lock_guard<std::mutex> guard(FLink->Lock);
  RemoveSessionLocked(aSession);
}

void TQuorrel::RemoveSessionLocked(tCheckThread* aSession) {
  auto it = std::find(FSessions.begin(), FSessions.end(), aSession);
  if (it != FSessions.end()) FSessions.erase(it);
}

void TQuorrel::TimerTick() {
  if (CheckActive()) Check();
}

}  // namespace dovrik
