// Types shared by the mail engine and its users: actions, results, parsed messages, events.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace dovrik {

class TQuorrel;

// The four mail actions; acNone only owns a result slot.
enum tQrAction : int { acNone = 0, acCheck = 1, acGetMessage = 2, acDelete = 3, acSend = 4 };
inline constexpr int kQrActionCount = 5;

// One action's result: Code 0 is success, Msg is meaningful only when Code is not 0.
// NOLINTBEGIN(readability-identifier-naming)
struct tQrError {
  int Code = 0;
  std::string Msg;
};

// A retrieved message split into the fields the main window shows.
struct tQrMessage {
  std::string From;
  std::string To;
  std::string Subject;
  std::string Date;
  std::string Text;
};
// NOLINTEND(readability-identifier-naming)

// Result codes of a mail action.
inline constexpr int kQrOk = 0;
inline constexpr int kQrUserRefused = -1;      // server reply
inline constexpr int kQrLoginFailed = -2;      // server reply
inline constexpr int kQrStatRefused = -3;      // server reply
inline constexpr int kQrTimeout = -4;          // "Timeout"
inline constexpr int kQrException = -5;        // the exception's message
inline constexpr int kQrCommandRefused = -6;   // RETR or DELE; server reply
inline constexpr int kQrHeloRefused = -7;      // server reply
inline constexpr int kQrSendRefused = -8;      // MAIL FROM, RCPT TO, DATA or the data; server reply
inline constexpr int kQrInvalidHello = -9;     // "Invalid hello"
inline constexpr int kQrServerNotFound = -10;  // "Server not found"
inline constexpr int kQrReplyTooLarge = -11;   // kQrReplyTooLargeText
inline constexpr int kQrReplyLineTooLong = -12;  // kQrReplyLineTooLongText
inline constexpr int kQrUnsafeValue = -13;       // kQrUnsafeValueText
inline constexpr int kQrMailboxChanged = -14;    // kQrMailboxChangedText
inline constexpr int kQrUnsafePassword = -15;    // kQrUnsafePasswordText

// What a session keeps of one reply at most. Far above real mail; past it the server is broken or
// hostile, and the session closes the connection rather than grow without end.
inline constexpr std::size_t kMaxReplyBytes = std::size_t{256} << 20;  // a whole reply or message
inline constexpr std::size_t kMaxReplyLineBytes = std::size_t{64} << 10;  // one status line

inline constexpr const char* kQrTimeoutText = "Timeout";
inline constexpr const char* kQrInvalidHelloText = "Invalid hello";
inline constexpr const char* kQrServerNotFoundText = "Server not found";
inline constexpr const char* kQrReplyTooLargeText =
    "Server reply too large (over 256 MiB); the connection was closed";
inline constexpr const char* kQrReplyLineTooLongText =
    "Server reply line too long (over 64 KiB); the connection was closed";
inline constexpr const char* kQrUnsafeValueText =
    "User name or address holds CR, LF or NUL; nothing was sent";
inline constexpr const char* kQrMailboxChangedText =
    "Mailbox changed since the last check; nothing was deleted";
inline constexpr const char* kQrUnsafePasswordText =
    "Password holds CR, LF or NUL; it was not sent";

// What a delete expects of the mailbox, from the last check (count and size) and from the
// retrieved message (its unique id). A field left at its default is not verified.
// The fields keep the names the desktop half reads them by.
// NOLINTBEGIN(readability-identifier-naming)
struct tDeleteGuard {
  int ExpectedCount = -1;
  int ExpectedSize = -1;
  std::string ExpectedUidl;
};
// NOLINTEND(readability-identifier-naming)

// Events; sender is the engine that raises them. All run on the main thread.
using tActionEvent = std::function<void(TQuorrel* sender, tQrAction anAction)>;
using tOnGetPassEvent = std::function<void(TQuorrel* sender, std::string& aPass)>;

}  // namespace dovrik
