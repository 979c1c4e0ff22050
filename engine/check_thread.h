// tCheckThread: one mail exchange on a worker thread of its own. It owns its socket for the length
// of the session, pumps that socket's notifications itself, and runs the protocol's dialogue over
// its command/reply layer inside the socket's connection event. It starts from its request and
// hands its result to the engine through the link when it ends.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/engine_types.h"
#include "engine/security.h"
#include "engine/session.h"
#include "platform/thread.h"
#include "socket/wsocket.h"

namespace dovrik {

class tSessionLink;

class tCheckThread : public platform::Thread, private ReplyChannel {
 public:
  // Created suspended; frees itself when its run ends (after Resume nobody else may delete it).
  tCheckThread(SessionRequest aRequest, std::shared_ptr<tSessionLink> anOwner);
  ~tCheckThread() override;

  tQrAction Action() const { return FRequest.action; }

 protected:
  void Execute() override;

 private:
  // Marks the dialogue as ended however it is left, exceptions included.
  struct DoneOnExit {
    bool& done;
    ~DoneOnExit() { done = true; }
  };

  // ---- the command/reply layer (ReplyChannel) ----
  const SessionRequest& Request() const override { return FRequest; }
  SessionResult& Result() override { return FResult; }
  void Fail(int aCode, const std::string& aText) override { SetError(aCode, aText); }
  int ErrorCode() const override { return FResult.code; }
  void ClearFailure() override {
    FResult.code = kQrOk;
    FResult.text = std::string();
  }
  const std::string& Reply() const override { return FReply; }
  bool WaitReply(const std::string& aCode) override;
  bool SendCommand(const std::string& aCommand, const std::string& aCode, int anError) override;
  bool SendOptionalCommand(const std::string& aCommand, const std::string& aCode) override;
  void SendLine(const std::string& aLine) override;
  void ExpectSizedReply() override { FSizeHint = true; }
  // True when the whole message arrived; false when it was cut short or stopped for its size.
  bool CollectMessage() override;
  bool RequestPassword() override;
  std::string& Password() override { return FPass; }
  bool UpgradeToTls(const std::string& aCommand, const std::string& aCode) override;
  bool TlsEstablished() const override;
  bool Connected() const override { return FState == wsConnected; }
  bool StoppedForSize() const override { return FStoppedForSize; }
  std::string LocalAddressLiteral() override;

  bool WaitMessageEnd();
  // Refuses, before anything is sent, a user name or address that would end its command line.
  bool InputsAreSafe() const;

  void SocketDataAvailable(TObject* sender, Word error);
  void SocketChangeState(TObject* sender, TSocketState old_state, TSocketState new_state);
  // The socket's connection event: the protocol's dialogue runs inside it.
  void RunDialogue(Word error);

  // One "sleep 100 ms, then pump": ends early when a message arrives for this thread.
  void WaitAndPump();
  bool TimedOut(double aReference) const;
  void SetError(int aCode, const std::string& aText);
  int TimeOut() const;
  bool ReplyComplete();
  bool ReplyHasMessageEnd();
  // Room kept behind a message for the marker of an incomplete one.
  static constexpr std::string_view kTruncatedMark = "\r\n<truncated>";
  // Past this size the receive buffer grows to the bound in one step.
  static constexpr std::size_t kGrowToBound = kMaxReplyBytes / 4;
  // Makes room for aNeed bytes ahead of time (never past the bound), keeping room for the
  // "<truncated>" marker so that ending a message never copies it.
  void GrowFor(std::size_t aNeed);
  // Past a bound: records the failure, frees the buffer and closes the connection, so nothing more
  // is read.
  void StopForSize(int aCode, const char* aText);
  void ReserveForMessage();

  // ---- encryption (secure_session.cpp) ----
  // Prepares the socket for the request's security choice.
  void ConfigureSecurity();
  // Runs before the dialogue: with TLS from the first byte, judges the ended handshake. False
  // (and the session done) when the session must end.
  bool SecureConnected(Word error);
  // The connect phase ran out: "Timeout", or a handshake that never ended.
  void RecordConnectTimeout();
  bool WaitTls();
  bool CheckCertificate();
  tQrTrust AskTrust(const TTlsPeer& aPeer);

  const SessionRequest FRequest;
  SessionResult FResult;
  TTlsParams FTlsParams;

  std::unique_ptr<TWSocket> FSocket;
  std::shared_ptr<tSessionLink> FOwner;
  bool FDone = false;
  TSocketState FState = wsInvalidState;
  std::string FReply;
  std::string FPass;
  // Where the searches of FReply resume: FReply only grows until WaitReply empties it, so bytes
  // that were searched once are never searched again.
  std::size_t FLineScan = 0;
  std::size_t FEndScan = 0;
  // Set before RETR: the first line of its answer may announce the size to make room for.
  bool FSizeHint = false;
  // While a reply's status lines are awaited their length is bounded; FLineStart is where the
  // line not yet seen whole begins (replies of the kCodedLines style run over several lines).
  bool FAwaitingReply = false;
  std::size_t FLineStart = 0;
  // Set once a reply outgrew its bound: the recorded failure stands, whatever fails after it.
  bool FStoppedForSize = false;
};

}  // namespace dovrik
