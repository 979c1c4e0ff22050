#include "engine/check_thread.h"

#include <string.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <mutex>
#include <optional>
#include <string_view>
#include <utility>

#include "engine/session_link.h"
#include "engine/str_to_int_def_trim.h"
#include "engine/text_lines.h"
#include "platform/clock.h"
#include "platform/message_queue.h"

namespace dovrik {

namespace {
// A large message held whole faults in every 4 KiB page as it arrives; where faults are dear that
// costs more than the transfer. Asking for huge pages on the buffer's aligned interior cuts the
// faults about tenfold. Only advice: where it is not granted nothing changes.
void AdviseHugePages(const char* data, std::size_t size) {
  constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
  if (size < 2 * kHuge) return;
  const auto begin = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t first = (begin + kHuge - 1) & ~(kHuge - 1);
  const std::uintptr_t last = (begin + size) & ~(kHuge - 1);
  if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}
}  // namespace

tCheckThread::tCheckThread(SessionRequest aRequest, std::shared_ptr<tSessionLink> anOwner)
    : platform::Thread(true), FRequest(std::move(aRequest)), FOwner(std::move(anOwner)) {
  SetFreeOnTerminate(true);
}

tCheckThread::~tCheckThread() {
  // The password never outlives the session.
  Wipe(FPass);
  FSocket.reset();
}

void tCheckThread::SetError(int aCode, const std::string& aText) {
  // A reply stopped for its size keeps that result: what fails after it fails because of it.
  if (FStoppedForSize) return;
  FResult.code = aCode;
  FResult.text = aText;
}

int tCheckThread::TimeOut() const {
  return FOwner->TimeOut();
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
    FSocket->SetAddr(FRequest.server);
    FSocket->SetPort(FRequest.port);
    FSocket->SetMultiThreaded(true);
    ConfigureSecurity();
    FSocket->OnSessionConnected = [this](TObject*, Word e) {
      if (SecureConnected(e)) RunDialogue(e);
    };
    FSocket->OnDataAvailable = [this](TObject* s, Word e) { SocketDataAvailable(s, e); };
    FSocket->OnChangeState = [this](TObject* s, TSocketState o, TSocketState n) {
      SocketChangeState(s, o, n);
    };
    const bool safe = InputsAreSafe();
    if (safe) FSocket->Connect();
    FDone = !safe;
    const double reference = platform::NowSeconds();
    if (!safe) SetError(kQrUnsafeValue, kQrUnsafeValueText);
    while (!FDone && !Terminated()) {
      if (TimedOut(reference) &&
          (FSocket->State() != wsConnected || FSocket->TlsState() == tlsHandshaking)) {
        RecordConnectTimeout();
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
    if (FRequest.security != SecurityMode::kNone) ReleaseTlsThreadState();
  }

  // The result goes to the engine, which reports the end on the main thread.
  FOwner->Finish(this, FRequest.action, FResult);
}

void tCheckThread::RunDialogue(Word error) {
  DoneOnExit done{FDone};
  if (error != 0) {
    SetError(kQrServerNotFound, kQrServerNotFoundText);
    return;
  }
  MakeDialogue(FRequest.protocol)->Run(*this);
}

void tCheckThread::SocketDataAvailable(TObject*, Word error) {
  const int count = FSocket->RcvdCount();
  if (count <= 0) return;
  if (error != 0 || Terminated()) {
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

void tCheckThread::GrowFor(std::size_t aNeed) {
  const std::size_t want = aNeed + kTruncatedMark.size();
  if (want <= FReply.capacity()) return;
  const std::size_t most = kMaxReplyBytes + kTruncatedMark.size();
  // Doubling, until a reply is far beyond real mail: then room up to the bound at once. Room not
  // yet written costs no memory, while every further growth would copy all that arrived and hold
  // it twice meanwhile.
  std::size_t next = std::max(want, 2 * FReply.capacity());
  if (next > kGrowToBound) next = most;
  FReply.reserve(std::min(next, most));
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

bool tCheckThread::InputsAreSafe() const {
  // CR or LF would end the command line early and put the rest on the wire as a command of its
  // own; NUL cuts it short on many servers.
  auto safe = [](const std::string& v) {
    return v.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos;
  };
  return safe(FRequest.user) && safe(FRequest.from) && safe(FRequest.to);
}

void tCheckThread::SocketChangeState(TObject*, TSocketState, TSocketState new_state) {
  FState = new_state;
}

bool tCheckThread::ReplyComplete() {
  // A kStatusLine reply is judged on its first line. A kCodedLines reply runs to its last line:
  // "250-..." lines continue it, the line whose fourth character is not a hyphen ends it.
  for (;;) {
    const std::size_t crlf = FReply.find("\r\n", FLineScan);
    if (crlf == std::string::npos) {
      FLineScan = std::max(FLineStart, FReply.empty() ? 0 : FReply.size() - 1);
      return false;
    }
    const bool continued = Protocol(FRequest.protocol).reply_style == ReplyStyle::kCodedLines &&
                           crlf - FLineStart >= 4 && FReply[FLineStart + 3] == '-';
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
  std::size_t last_length = static_cast<std::size_t>(-1);
  double reference = 0;
  for (;;) {
    if (FReply.size() != last_length) {
      // The limit is on silence, not on the whole reply.
      last_length = FReply.size();
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

bool tCheckThread::SendOptionalCommand(const std::string& aCommand, const std::string& aCode) {
  const int code = FResult.code;
  std::optional<std::string> text = FResult.text;
  SendLine(aCommand);
  const bool ok = WaitReply(aCode);
  if (!FStoppedForSize) {
    FResult.code = code;
    FResult.text = std::move(text);
  }
  return ok;
}

void tCheckThread::SendLine(const std::string& aLine) {
  FSocket->SendStr(aLine + "\r\n");
}

bool tCheckThread::WaitMessageEnd() {
  std::size_t last_length = static_cast<std::size_t>(-1);
  double reference = 0;
  while (!ReplyHasMessageEnd() && !Terminated() && FState == wsConnected) {
    if (FReply.size() != last_length) {
      last_length = FReply.size();
      reference = platform::NowSeconds();
    }
    if (TimedOut(reference)) break;
    WaitAndPump();
  }
  return ReplyHasMessageEnd();
}

bool tCheckThread::RequestPassword() {
  Wipe(FPass);  // the refused one, before the handler's answer replaces it
  FPass.clear();
  return FOwner->AskPassword(FPass);
}

void tCheckThread::ReserveForMessage() {
  // Servers usually announce the size ("+OK 1234 octets"): room for it, dot-stuffing and the end
  // line at once spares copying a large message while it grows. Only a hint, and a bounded one.
  const std::string_view status(FReply.data(), std::min(FReply.find("\r\n"), FReply.size()));
  const std::size_t first = status.find(' ');
  if (first == std::string_view::npos) return;
  std::string_view rest = status.substr(first + 1);
  rest = rest.substr(0, rest.find(' '));
  const int announced = StrToIntDefTrim(rest, -1);
  constexpr int kMaxHint = 256 * 1024 * 1024;
  if (announced <= 0 || announced > kMaxHint) return;
  // Sized from the status line, not from what has arrived, so a large first chunk is not counted
  // twice.
  const std::size_t want = status.size() + 2 + static_cast<std::size_t>(announced) +
                           static_cast<std::size_t>(announced) / 32 + 64;
  if (want <= FReply.capacity()) return;
  FReply.reserve(want);
  AdviseHugePages(FReply.data(), FReply.capacity());
}

bool tCheckThread::CollectMessage() {
  // Every positive reply to RETR runs to the "." line, with or without a size on its status line.
  // The text is set once, when the wait is over: much of a large message may be here already.
  const bool complete = WaitMessageEnd();
  if (FStoppedForSize) return false;        // the previous message stays
  if (!complete) FReply += kTruncatedMark;  // room for it was kept: no copy
  // A status line that overstated the size must not leave the kept text holding room for it;
  // after an honest one the spare room is small and nothing is copied. A text past kGrowToBound
  // is not copied either: its unwritten room costs no memory.
  if (FReply.capacity() - FReply.size() > FReply.size() && FReply.size() <= kGrowToBound)
    FReply.shrink_to_fit();
  // Hand the buffer over whole; a large message is never copied.
  auto text = std::make_shared<const std::string>(std::move(FReply));
  FReply.clear();
  FLineScan = 0;
  FEndScan = 0;
  FResult.message_text = std::move(text);
  FResult.message_uidl.clear();
  return complete;
}

}  // namespace dovrik
