// tCheckThread: one mail exchange on a worker thread of its own. It owns its socket for the length
// of the session, pumps that socket's notifications itself, and runs the POP3 or SMTP dialogue
// inside the socket's connection event. It reports only through the engine's result table.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine_types.h"
#include "engine/security.h"
#include "platform/thread.h"
#include "socket/wsocket.h"

namespace dovrik {

struct tSessionLink;

class tCheckThread : public platform::Thread {
 public:
  // Created suspended; frees itself when its run ends (after Resume nobody else may delete it).
  tCheckThread(std::string aAddr, std::string aPort, tQrAction anAction,
               std::shared_ptr<tSessionLink> anOwner, bool aSend);
  ~tCheckThread() override;

  tQrAction Action() const { return FAction; }

 protected:
  void Execute() override;

 private:
  // Marks the dialogue as ended however it is left, exceptions included.
  struct DoneOnExit {
    bool& done;
    ~DoneOnExit() { done = true; }
  };

  bool WaitReply(const std::string& aCode);
  bool SendCommand(const std::string& aCommand, const std::string& aCode, int anError);
  bool WaitMessageEnd();
  void RequestPassword();

  void SocketDataAvailable(TObject* Sender, Word Error);
  void SocketChangeState(TObject* Sender, TSocketState OldState, TSocketState NewState);
  void Pop3Dialogue(TObject* Sender, Word Error);
  void SmtpDialogue(TObject* Sender, Word Error);

  // Zeroes a text that may hold the password before its memory goes back to the heap; the guard
  // does so however the scope is left.
  static void Wipe(std::string& aText);
  struct WipeOnExit {
    std::string& text;
    ~WipeOnExit() { Wipe(text); }
  };

  // One "sleep 100 ms, then pump": ends early when a message arrives for this thread.
  void WaitAndPump();
  bool TimedOut(double aReference) const;
  // Engine access through the link; harmless once the engine is gone.
  void SetError(int aCode, const std::string& aText);
  int ErrorCode() const;
  int TimeOut() const;
  std::string UserName() const;
  bool ReplyHasCrLf();
  bool ReplyHasMessageEnd();
  void CollectMessage();
  void ReserveForMessage();
  // Runs f(engine) under the link's lock when the engine still exists; false otherwise.
  bool WithEngine(const std::function<void(TQuorrel&)>& f) const;

  // ---- encryption (secure_session.cpp) ----
  // Reads the server's security choice from the engine and prepares the socket for it.
  void ConfigureSecurity();
  // Runs before the dialogue: with TLS from the first byte, judges the ended handshake. False
  // (and the session done) when the session must end.
  bool SecureConnected(Word Error);
  // The connect phase ran out: "Timeout", or a handshake that never ended.
  void RecordConnectTimeout();
  // POP3, after the greeting: STLS and the handshake when chosen.
  bool Pop3StartTls();
  // SMTP, after the greeting: HELO as ever, or EHLO, STARTTLS, EHLO and the login.
  bool SmtpHello();
  bool UpgradeToTls(const std::string& aCommand, const std::string& aCode);
  bool WaitTls();
  bool CheckCertificate();
  tQrTrust AskTrust(const TTlsPeer& aPeer);
  bool WaitSmtpReply(const std::string& aCode);
  bool SmtpCommand(const std::string& aCommand, const std::string& aCode, int anError);
  bool SmtpLogin(const std::string& aCapabilities);
  std::string LocalAddressLiteral();

  SecurityMode FSecurity = SecurityMode::kNone;
  TTlsParams FTlsParams;
  std::vector<std::string> FTrusted;

  std::unique_ptr<TWSocket> FSocket;
  tQrAction FAction;
  std::shared_ptr<tSessionLink> FOwner;
  bool FDone = false;
  TSocketState FState = wsInvalidState;
  std::string FReply;
  std::string FAddr;
  std::string FPort;
  bool FSend;
  bool FGotPass = false;
  std::string FPass;
  // Where the searches of FReply resume: FReply only grows until WaitReply empties it, so bytes
  // that were searched once are never searched again.
  std::size_t FLineScan = 0;
  std::size_t FEndScan = 0;
  // Set before RETR: the first line of its answer may announce the size to make room for.
  bool FSizeHint = false;
};

}  // namespace dovrik
