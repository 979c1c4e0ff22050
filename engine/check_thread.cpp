#include "engine/check_thread.h"

#include <string.h>

#include <algorithm>
#include <exception>
#include <mutex>
#include <string_view>
#include <utility>

#include "engine/quorrel.h"
#include "engine/text_lines.h"
#include "platform/clock.h"
#include "platform/message_queue.h"

namespace dovrik {

bool tCheckThread::WithEngine(const std::function<void(TQuorrel&)>& f) const {
  std::lock_guard<std::mutex> guard(FOwner->Lock);
  if (!FOwner->Engine) return false;
  f(*FOwner->Engine);
  return true;
}

tCheckThread::tCheckThread(std::string aAddr, std::string aPort, tQrAction anAction,
                           std::shared_ptr<tSessionLink> anOwner, bool aSend)
    : platform::Thread(true),
      FAction(anAction),
      FOwner(std::move(anOwner)),
      FAddr(std::move(aAddr)),
      FPort(std::move(aPort)),
      FSend(aSend) {
  SetFreeOnTerminate(true);
}

void tCheckThread::Wipe(std::string& aText) {
  explicit_bzero(aText.data(), aText.size());
}

tCheckThread::~tCheckThread() {
  // The password never outlives the session.
  Wipe(FPass);
  FSocket.reset();
}

void tCheckThread::SetError(int aCode, const std::string& aText) {
  // A reply stopped for its size keeps that result: what fails after it fails because of it.
  if (FStoppedForSize) return;
  WithEngine([&](TQuorrel& e) { e.SetError(FAction, aCode, aText); });
}

int tCheckThread::ErrorCode() const {
  int code = kQrTimeout;  // a detached session fails whatever it waits for
  WithEngine([&](TQuorrel& e) { code = e.FErrors[FAction].Code; });
  return code;
}

int tCheckThread::TimeOut() const {
  int value = 10;
  WithEngine([&](TQuorrel& e) { value = e.FTimeOut; });
  return value;
}

std::string tCheckThread::UserName() const {
  std::string value;
  WithEngine([&](TQuorrel& e) { value = e.FUserName; });
  return value;
}

void tCheckThread::WaitAndPump() {
  platform::WaitMessages(100);
  TWSocket::PumpMessages();
}

bool tCheckThread::TimedOut(double aReference) const {
  // Whole seconds, truncated; TimeOut is read afresh at every test.
  const long long elapsed = static_cast<long long>(platform::NowSeconds() - aReference);
  return elapsed > TimeOut();
}

void tCheckThread::Execute() {
  try {
    FSocket = std::make_unique<TWSocket>(nullptr);
    FSocket->SetProto("tcp");
    FSocket->SetAddr(FAddr);
    FSocket->SetPort(FPort);
    FSocket->SetMultiThreaded(true);
    if (FSend)
      FSocket->OnSessionConnected = [this](TObject* s, Word e) { SmtpDialogue(s, e); };
    else
      FSocket->OnSessionConnected = [this](TObject* s, Word e) { Pop3Dialogue(s, e); };
    FSocket->OnDataAvailable = [this](TObject* s, Word e) { SocketDataAvailable(s, e); };
    FSocket->OnChangeState = [this](TObject* s, TSocketState o, TSocketState n) {
      SocketChangeState(s, o, n);
    };
    const bool safe = InputsAreSafe();
    if (safe) FSocket->Connect();
    FDone = !safe;
    const double reference = platform::NowSeconds();
    WithEngine([&](TQuorrel& e) { e.SetErrorCode(FAction, kQrOk); });
    if (!safe) SetError(kQrUnsafeValue, kQrUnsafeValueText);
    while (!FDone && !Terminated()) {
      if (TimedOut(reference) && FSocket->State() != wsConnected) {
        SetError(kQrTimeout, kQrTimeoutText);
        break;
      }
      WaitAndPump();
    }
  } catch (const std::exception& e) {
    SetError(kQrException, e.what());
  } catch (...) {
    SetError(kQrException, "Unknown exception");
  }

  if (FSocket) {
    try {
      if (FState == wsConnected)
        FSocket->Close();
      else
        FSocket->Abort();
    } catch (const ESocketException&) {
      // The exchange is over; a failure to close it is not its result.
    }
  }

  // Report the end on the main thread and wait for it; a detached session reports nothing.
  bool attached = false;
  WithEngine([&](TQuorrel&) { attached = true; });
  if (attached) {
    const bool reported = Synchronize([this] {
      TQuorrel* engine = nullptr;
      {
        std::lock_guard<std::mutex> guard(FOwner->Lock);
        engine = FOwner->Engine;
      }
      if (engine) engine->SessionDone(this, FAction);
    });
    // The main thread no longer serves workers (shutdown): leave the list here, or the engine
    // would keep a pointer to a freed session.
    if (!reported) WithEngine([this](TQuorrel& e) { e.RemoveSessionLocked(this); });
  }
}

void tCheckThread::SocketDataAvailable(TObject*, Word Error) {
  const int count = FSocket->RcvdCount();
  if (count <= 0) return;
  if (Error != 0 || Terminated()) {
    // Take the bytes and drop them, or the socket would offer them again at once, forever.
    std::string scratch(static_cast<std::size_t>(count), '\0');
    FSocket->Receive(scratch.data(), count);
    return;
  }
  const std::size_t old = FReply.size();
  if (old + static_cast<std::size_t>(count) > kMaxReplyBytes) {
    StopForSize(kQrReplyTooLarge, kQrReplyTooLargeText);
    return;
  }
  GrowFor(old + static_cast<std::size_t>(count));
  FReply.resize(old + static_cast<std::size_t>(count));
  const int got = FSocket->Receive(FReply.data() + old, count);
  FReply.resize(old + static_cast<std::size_t>(got > 0 ? got : 0));
  if (FSizeHint && FReply.find("\r\n") != std::string::npos) {
    FSizeHint = false;
    ReserveForMessage();
  }
  if (FAwaitingReply && !ReplyComplete() && FReply.size() - FLineStart > kMaxReplyLineBytes)
    StopForSize(kQrReplyLineTooLong, kQrReplyLineTooLongText);
}

namespace {
// Room kept behind a message for the marker of an incomplete one.
constexpr std::string_view kTruncatedMark = "\r\n<truncated>";
}  // namespace

void tCheckThread::GrowFor(std::size_t aNeed) {
  const std::size_t want = aNeed + kTruncatedMark.size();
  if (want <= FReply.capacity()) return;
  const std::size_t most = kMaxReplyBytes + kTruncatedMark.size();
  FReply.reserve(std::min(std::max(want, 2 * FReply.capacity()), most));
}

void tCheckThread::StopForSize(int aCode, const char* aText) {
  SetError(aCode, aText);
  FStoppedForSize = true;
  std::string().swap(FReply);  // the memory goes back at once
  FLineScan = 0;
  FEndScan = 0;
  FLineStart = 0;
  // Closing ends the socket's read loop: the bytes still coming are never taken.
  FSocket->Abort();
}

bool tCheckThread::InputsAreSafe() {
  // CR or LF would end the command line early and put the rest on the wire as a command of its
  // own; NUL cuts it short on many servers.
  auto safe = [](const std::string& v) {
    return v.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos;
  };
  bool ok = true;
  WithEngine([&](TQuorrel& e) {
    ok = safe(e.FUserName) && (!FSend || (safe(e.FSendFrom) && safe(e.FSendTo)));
  });
  return ok;
}

void tCheckThread::SocketChangeState(TObject*, TSocketState, TSocketState NewState) {
  FState = NewState;
}

bool tCheckThread::ReplyComplete() {
  // A POP3 reply is judged on its first line. An SMTP reply runs to its last line: "250-..." lines
  // continue it, the line whose fourth character is not a hyphen ends it.
  for (;;) {
    const std::size_t crlf = FReply.find("\r\n", FLineScan);
    if (crlf == std::string::npos) {
      FLineScan = std::max(FLineStart, FReply.empty() ? 0 : FReply.size() - 1);
      return false;
    }
    const bool continued = FSend && crlf - FLineStart >= 4 && FReply[FLineStart + 3] == '-';
    if (!continued) return true;
    FLineStart = crlf + 2;
    FLineScan = FLineStart;
  }
}

bool tCheckThread::ReplyHasMessageEnd() {
  static constexpr std::string_view kEnd = "\r\n.\r\n";
  if (FReply.find(kEnd, FEndScan) != std::string::npos) return true;
  FEndScan = FReply.size() >= kEnd.size() ? FReply.size() - (kEnd.size() - 1) : 0;
  return false;
}

bool tCheckThread::WaitReply(const std::string& aCode) {
  FReply.clear();
  FLineScan = 0;
  FEndScan = 0;
  FLineStart = 0;
  FAwaitingReply = true;
  // The first pass takes the reference time, as the length differs from -1.
  std::size_t lastLength = static_cast<std::size_t>(-1);
  double reference = 0;
  for (;;) {
    if (FReply.size() != lastLength) {
      // The limit is on silence, not on the whole reply.
      lastLength = FReply.size();
      reference = platform::NowSeconds();
    }
    if (TimedOut(reference)) {
      SetError(kQrTimeout, kQrTimeoutText);
      break;
    }
    WaitAndPump();
    if (FState != wsConnected || Terminated() || ReplyComplete()) break;
  }
  FAwaitingReply = false;
  return FState == wsConnected && FReply.compare(0, aCode.size(), aCode) == 0 && !Terminated() &&
         ErrorCode() == kQrOk;
}

bool tCheckThread::SendCommand(const std::string& aCommand, const std::string& aCode, int anError) {
  {
    std::string line;
    WipeOnExit wipe{line};  // it may be the PASS line
    line.reserve(aCommand.size() + 2);
    line.append(aCommand).append("\r\n");
    FSocket->SendStr(line);
  }
  const bool ok = WaitReply(aCode);
  if (!ok) SetError(anError, FReply);
  return ok;
}

bool tCheckThread::SendOptionalCommand(const std::string& aCommand) {
  tQrError before;
  WithEngine([&](TQuorrel& e) { before = e.FErrors[FAction]; });
  FSocket->SendStr(aCommand + "\r\n");
  const bool ok = WaitReply("+OK");
  if (!FStoppedForSize) WithEngine([&](TQuorrel& e) { e.FErrors[FAction] = before; });
  return ok;
}

bool tCheckThread::WaitMessageEnd() {
  std::size_t lastLength = static_cast<std::size_t>(-1);
  double reference = 0;
  while (!ReplyHasMessageEnd() && !Terminated() && FState == wsConnected) {
    if (FReply.size() != lastLength) {
      lastLength = FReply.size();
      reference = platform::NowSeconds();
    }
    if (TimedOut(reference)) break;
    WaitAndPump();
  }
  return ReplyHasMessageEnd();
}

void tCheckThread::RequestPassword() {
  Wipe(FPass);  // the refused one, before the handler's answer replaces it
  FPass.clear();
  FGotPass = false;
  bool attached = false;
  WithEngine([&](TQuorrel&) { attached = true; });
  if (!attached) return;
  Synchronize([this] {
    TQuorrel* engine = nullptr;
    {
      std::lock_guard<std::mutex> guard(FOwner->Lock);
      engine = FOwner->Engine;
    }
    if (engine && engine->OnGetPass) {
      engine->OnGetPass(engine, FPass);
      FGotPass = !TrimBlanks(FPass).empty();
    } else {
      FGotPass = false;
    }
  });
}

}  // namespace dovrik
