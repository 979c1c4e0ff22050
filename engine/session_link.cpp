#include "engine/session_link.h"

#include "engine/text_lines.h"
#include "platform/thread.h"

namespace dovrik {

bool tSessionLink::Attached() const {
  std::lock_guard<std::mutex> guard(lock_);
  return host_ != nullptr;
}

SessionHost* tSessionLink::HostNow() {
  std::lock_guard<std::mutex> guard(lock_);
  return host_;
}

void tSessionLink::Finish(tCheckThread* aSession, tQrAction anAction, SessionResult& aResult) {
  {
    // Stored here rather than on the main thread, so that a session ending while the main thread
    // no longer serves it still leaves its result.
    std::lock_guard<std::mutex> guard(lock_);
    if (!host_) return;  // a detached session reports nothing
    host_->StoreResult(anAction, aResult);
  }
  const bool reported = platform::RunOnMainThread([&] {
    if (SessionHost* host = HostNow()) host->SessionDone(aSession, anAction);
  });
  // The main thread no longer serves workers (shutdown): leave the list here, or the engine
  // would keep a pointer to a freed session.
  if (!reported) {
    std::lock_guard<std::mutex> guard(lock_);
    if (host_) host_->ForgetSessionLocked(aSession);
  }
}

bool tSessionLink::AskPassword(std::string& aPass) {
  bool given = false;
  if (!Attached()) return false;
  platform::RunOnMainThread([&] {
    SessionHost* host = HostNow();
    if (!host) return;
    host->AskPassword(aPass);
    given = !TrimBlanks(aPass).empty();
  });
  return given;
}

tQrTrust tSessionLink::AskTrust(const tQrCertificate& aCertificate) {
  tQrTrust answer = trNo;
  if (!Attached()) return answer;
  platform::RunOnMainThread([&] {
    if (SessionHost* host = HostNow()) host->AskTrust(aCertificate, answer);
  });
  return answer;
}

}  // namespace dovrik
