// The POP3 side of a session: greeting, USER, LIST as an access probe, PASS as often as the owner
// gives a password, the action's own command, and QUIT, whose answer only a delete awaits.
#include "engine/pop3_dialogue.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

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

bool ParseUidlReply(std::string_view aReply, int aNumber, std::string& anId) {
  // "+OK" SP number SP id CR LF; the id is 1 to 70 printable characters.
  const std::string_view line = aReply.substr(0, aReply.find("\r\n"));
  if (!line.starts_with("+OK ")) return false;
  std::string_view rest = line.substr(4);
  const std::size_t blank = rest.find(' ');
  if (blank == std::string_view::npos) return false;
  if (StrToIntDefTrim(rest.substr(0, blank), -1) != aNumber) return false;
  const std::string_view id = TrimBlanks(rest.substr(blank + 1));
  if (id.empty() || id.size() > 70) return false;
  for (const char c : id)
    if (c < 0x21 || c > 0x7e) return false;
  anId.assign(id);
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
  WithEngine([&](TQuorrel& e) {
    e.FMessageText = std::move(text);
    e.FMessageUidl.clear();
  });
  return complete;
}

void tCheckThread::RecordUidl(int aNumber) {
  // The message's unique id lets a later delete make sure it deletes this very message. A server
  // without UIDL just leaves it empty.
  std::string id;
  if (SendOptionalCommand("UIDL " + std::to_string(aNumber))) ParseUidlReply(FReply, aNumber, id);
  WithEngine([&](TQuorrel& e) { e.FMessageUidl = std::move(id); });
}

bool tCheckThread::MailboxUnchanged(int aNumber, const tDeleteGuard& aGuard) {
  // Message numbers shift when mail is deleted elsewhere: deleting by number is safe only while
  // the mailbox is the one the user saw.
  if (aGuard.ExpectedCount >= 0 || aGuard.ExpectedSize >= 0) {
    if (!SendCommand("STAT", "+OK", kQrStatRefused)) return false;
    int count = -1;
    int size = -1;
    ParseStatReply(FReply, count, size);
    if ((aGuard.ExpectedCount >= 0 && count != aGuard.ExpectedCount) ||
        (aGuard.ExpectedSize >= 0 && size != aGuard.ExpectedSize)) {
      SetError(kQrMailboxChanged, kQrMailboxChangedText);
      return false;
    }
  }
  if (aGuard.ExpectedUidl.empty()) return true;
  if (!SendOptionalCommand("UIDL " + std::to_string(aNumber))) {
    // A server without UIDL refuses it: the count and size are all there is to go by.
    if (FReply.starts_with("-ERR")) return true;
    SetError(kQrCommandRefused, FReply);
    return false;
  }
  std::string id;
  if (!ParseUidlReply(FReply, aNumber, id) || id != aGuard.ExpectedUidl) {
    SetError(kQrMailboxChanged, kQrMailboxChangedText);
    return false;
  }
  return true;
}

void tCheckThread::Pop3Dialogue(TObject*, Word Error) {
  DoneOnExit done{FDone};
  bool awaitQuit = false;  // set once a DELE was accepted
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
          if (FPass.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
            // It would end the PASS line early and send its rest as a command of its own.
            SetError(kQrUnsafePassword, kQrUnsafePasswordText);
            break;
          }
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
          if (SendCommand("RETR " + std::to_string(number), "+OK", kQrCommandRefused) &&
              CollectMessage())
            RecordUidl(number);
          break;
        case acDelete: {
          bool guarded = false;
          tDeleteGuard guard;
          WithEngine([&](TQuorrel& e) {
            number = e.FDeleteNumber;
            guarded = e.FDeleteGuarded;
            guard = e.FDeleteGuard;
          });
          if (!guarded || MailboxUnchanged(number, guard))
            awaitQuit = SendCommand("DELE " + std::to_string(number), "+OK", kQrCommandRefused);
          break;
        }
        default:
          break;
      }
    }
  }
  if (FStoppedForSize) return;  // the connection is closed already
  FSocket->SendStr("QUIT\r\n");
  if (!awaitQuit) return;
  // A server removes a deleted message only when it answers QUIT: until then the delete is not
  // done, and a check started at its end could still find the message. The server closes the
  // connection after its answer, so the answer alone is judged.
  WaitReply("+OK");
  if (ErrorCode() == kQrOk && !FReply.starts_with("+OK")) SetError(kQrCommandRefused, FReply);
}

}  // namespace dovrik
