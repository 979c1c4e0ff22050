// The POP3 side of a session: greeting, USER, LIST as an access probe, PASS as often as the owner
// gives a password, the action's own command, and QUIT without awaiting its answer.
#include "engine/pop3_dialogue.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/check_thread.h"
#include "engine/quorrel.h"
#include "engine/str_to_int_def_trim.h"
#include "engine/text_lines.h"

namespace dovrik {

bool ParseStatReply(std::string_view aReply, int& aCount, int& aSize) {
  const std::size_t p = aReply.find(' ');
  if (p == std::string_view::npos) return false;
  // The blank's position is taken in the untrimmed reply and applied to the trimmed one.
  const std::string_view trimmed = TrimBlanks(aReply);
  const std::string_view t = p + 1 <= trimmed.size() ? trimmed.substr(p + 1) : std::string_view{};
  const std::size_t q = t.find(' ');
  if (q == std::string_view::npos) return false;
  aCount = StrToIntDefTrim(t.substr(0, q), -1);
  aSize = StrToIntDefTrim(t.substr(q + 1), -1);
  return true;
}

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

void tCheckThread::CollectMessage() {
  // A bare status line with nothing behind it: the rest is not awaited. Otherwise the text is
  // set once, when the wait is over: much of a large message may be here already.
  if (FReply.find(' ') == std::string::npos) {
    WithEngine([&](TQuorrel& e) { e.FMessageText = std::make_shared<const std::string>(FReply); });
    return;
  }
  if (!WaitMessageEnd()) FReply += "\r\n<truncated>";
  // A status line that overstated the size must not leave the kept text holding room for it;
  // after an honest one the spare room is small and nothing is copied.
  if (FReply.capacity() - FReply.size() > FReply.size()) FReply.shrink_to_fit();
  // Hand the buffer over whole; a large message is never copied.
  auto text = std::make_shared<const std::string>(std::move(FReply));
  FReply.clear();
  FLineScan = 0;
  FEndScan = 0;
  WithEngine([&](TQuorrel& e) { e.FMessageText = std::move(text); });
}

void tCheckThread::Pop3Dialogue(TObject*, Word Error) {
  DoneOnExit done{FDone};
  if (Error != 0) {
    SetError(kQrServerNotFound, kQrServerNotFoundText);
    return;
  }
  if (!WaitReply("+OK")) {
    // A silent server keeps its "Timeout"; a wrong or missing greeting is not an empty mailbox.
    if (ErrorCode() == kQrOk) SetError(kQrInvalidHello, kQrInvalidHelloText);
    return;
  }
  if (!Pop3StartTls()) return;
  if (SendCommand("USER " + UserName(), "+OK", kQrUserRefused)) {
    bool ok = SendCommand("LIST", "+OK", kQrLoginFailed);
    if (!ok) {
      bool retry = false;
      do {
        RequestPassword();
        if (FGotPass) {
          WithEngine([&](TQuorrel& e) { e.SetError(FAction, kQrOk, std::string()); });
          // A server forgets the user name after a refused PASS (PASS is valid only right after
          // USER), so a second try without USER could never succeed, whatever the password.
          if (retry && !SendCommand("USER " + UserName(), "+OK", kQrUserRefused)) break;
          retry = true;
          std::string command = "PASS " + FPass;
          WipeOnExit wipe{command};
          ok = SendCommand(command, "+OK", kQrLoginFailed);
        }
      } while (!ok && FGotPass);
    }
    Wipe(FPass);
    FPass.clear();
    if (ok) {
      int number = 0;
      switch (FAction) {
        case acCheck:
          if (SendCommand("STAT", "+OK", kQrStatRefused)) {
            int count = 0;
            int size = 0;
            if (ParseStatReply(FReply, count, size))
              WithEngine([&](TQuorrel& e) {
                e.FMessageCount = count;
                e.FMailboxSize = size;
              });
          }
          break;
        case acGetMessage:
          WithEngine([&](TQuorrel& e) { number = e.FGetNumber; });
          FSizeHint = true;
          if (SendCommand("RETR " + std::to_string(number), "+OK", kQrCommandRefused))
            CollectMessage();
          break;
        case acDelete:
          WithEngine([&](TQuorrel& e) { number = e.FDeleteNumber; });
          SendCommand("DELE " + std::to_string(number), "+OK", kQrCommandRefused);
          break;
        default:
          break;
      }
    }
  }
  FSocket->SendStr("QUIT\r\n");
}

}  // namespace dovrik
