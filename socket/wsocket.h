// TWSocket: an event-driven, non-blocking IPv4 TCP/UDP socket component. Its notifications
// arrive on a hidden window of the thread that constructed it, so every event runs on that
// thread, and only while that thread dispatches its messages.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/async_select.h"
#include "platform/host_lookup.h"
#include "platform/message_queue.h"
#include "socket/component.h"
#include "socket/send_buffer.h"
#include "socket/socket_exception.h"
#include "socket/stream_layer.h"
#include "socket/tls_layer.h"
#include "socket/tls_session.h"
#include "socket/wait_control.h"

namespace dovrik {

using Word = std::uint16_t;
using TSocket = platform::SocketHandle;
inline constexpr TSocket INVALID_SOCKET =  // NOLINT(readability-identifier-naming)
    platform::kInvalidSocket;

enum TSocketState : std::uint8_t {
  wsInvalidState = 0,
  wsOpened = 1,
  wsBound = 2,
  wsConnecting = 3,
  wsConnected = 4,
  wsAccepting = 5,
  wsListening = 6,
  wsClosed = 7,
};

enum TSocketSendFlags : std::uint8_t { wsSendNormal = 0, wsSendUrgent = 1 };

// An event counts as assigned when it holds a callable.
using TSocketErrorEvent = std::function<void(TObject* sender, Word error)>;
using TDataAvailable = TSocketErrorEvent;
using TDataSent = TSocketErrorEvent;
using TSessionClosed = TSocketErrorEvent;
using TSessionAvailable = TSocketErrorEvent;
using TSessionConnected = TSocketErrorEvent;
using TDnsLookupDone = TSocketErrorEvent;
using TChangeState =
    std::function<void(TObject* sender, TSocketState old_state, TSocketState new_state)>;
using TNotifyEvent = std::function<void(TObject* sender)>;

// A (seconds, microseconds) pair of 32-bit integers.
struct TTimeVal {
  std::int32_t tv_sec = 0;
  std::int32_t tv_usec = 0;
};

// Private message numbers of the notification window.
inline constexpr std::uint32_t kSocketEventMessage = platform::kUserMessage + 1;
inline constexpr std::uint32_t kLookupDoneMessage = platform::kUserMessage + 2;

inline constexpr int kSocketBufferSize = 1514;

// TLS over the socket: not started, handshake running, established, failed (see TlsFailure).
enum TTlsState : std::uint8_t { tlsOff = 0, tlsHandshaking = 1, tlsEstablished = 2, tlsFailed = 3 };
// The error word of OnSessionConnected and OnTlsDone when the handshake failed. Outside the range
// of the Windows Sockets numbers.
inline constexpr Word kTlsFailedError = 20000;
inline constexpr int kSendGatherSize = 65536;

// The socket is the StreamBelow of its layer (privately: only the layer reads and queues through
// it).
class TCustomWSocket : public TComponent, private StreamBelow {
 public:
  explicit TCustomWSocket(TComponent* AOwner = nullptr);
  ~TCustomWSocket() override;

  // ---- virtual operations, in slot order ----
  virtual void SetDefaults();
  virtual void BindLocal();
  virtual void RaiseErrorFmt(const std::string& fmt, const std::vector<TFormatArg>& args);
  virtual void RaiseError(const std::string& msg);
  virtual bool DoDataAvailable(Word error);
  virtual void DoSessionAvailable(Word error);
  virtual void DoSessionConnected(Word error);
  virtual void DoSessionClosed(Word error);
  virtual void DoDataSent(Word error);
  virtual void DoChangeState(TSocketState old_state, TSocketState new_state);
  virtual void DoDnsLookupDone(Word error);
  virtual void DoError();
  virtual void Connect();
  virtual void Close();
  virtual void Abort();
  virtual void Flush();
  virtual void WaitForClose();
  virtual int Listen();
  virtual TSocket Accept();
  virtual int Receive(void* buffer, int buffer_size);
  virtual int ReceiveFrom(void* buffer, int buffer_size, sockaddr_in& from, int& from_len);
  virtual int Send(const void* data, int len);
  virtual int SendStr(const std::string& str);
  virtual void DnsLookup(const std::string& host_name);
  virtual void CancelDnsLookup();
  virtual std::string GetPeerAddr();
  virtual int GetPeerName(sockaddr_in& name, int name_len);
  virtual std::string GetLocalPort();
  virtual bool TimeValIsSet(const TTimeVal& t);
  virtual void TimeValClear(TTimeVal& t);
  virtual bool TimeValCompare(const TTimeVal& a, const TTimeVal& b, bool equal);
  virtual bool Wait(int timeout, TSocketState desired_state);
  virtual void ReadLine(int timeout, std::string& buffer);
  virtual int GetSockName(sockaddr_in& name, int& name_len);
  virtual void Dup(TSocket new_handle);
  virtual void Shutdown(int how);
  virtual void Pause();
  virtual void Resume();

  // Dispatches every message now waiting in the calling thread's queue; never blocks.
  static void PumpMessages();

  // ---- properties (published by TWSocket) ----
  const std::string& Addr() const { return FAddrStr; }
  void SetAddr(const std::string& value);
  const std::string& Port() const { return FPortStr; }
  void SetPort(const std::string& value);
  const std::string& Proto() const { return FProtoStr; }
  void SetProto(const std::string& value);
  const std::string& DnsResult() const { return FDnsResult; }
  const std::vector<std::string>& DnsResultList() const { return FDnsResultList; }
  TSocketState State() const { return FState; }
  int ReadCount() const { return FReadCount; }
  int RcvdCount();
  int LastError() const { return FLastError; }
  bool MultiThreaded() const { return FMultiThreaded; }
  void SetMultiThreaded(bool value) { FMultiThreaded = value; }
  // Not owned; cleared when the control is destroyed first.
  TWaitControl* WaitCtrl() const { return FWaitCtrl; }
  void SetWaitCtrl(TWaitControl* value);
  int FlushTimeout() const { return FFlushTimeout; }
  void SetFlushTimeout(int value) { FFlushTimeout = value; }
  TSocketSendFlags SendFlags();
  void SetSendFlags(TSocketSendFlags value);

  TDataAvailable OnDataAvailable;
  TDataSent OnDataSent;
  TSessionClosed OnSessionClosed;
  TSessionAvailable OnSessionAvailable;
  TSessionConnected OnSessionConnected;
  TChangeState OnChangeState;
  TNotifyEvent OnLineTooLong;
  TDnsLookupDone OnDnsLookupDone;
  TNotifyEvent OnError;

  // ---- public read-outs of the internal fields ----
  TSocket Handle() const { return FSocketHandle; }
  platform::WindowHandle WindowHandle() const { return FWindowHandle; }
  int PortNum() const { return FPortNum; }
  int LocalPortNum() const { return FLocalPortNum; }
  int ProtoNum() const { return FProtoNum; }
  int SocketType() const { return FSocketType; }
  const sockaddr_in& SockAddr() const { return FSockAddr; }
  TSocket AcceptedHandle() const { return FAcceptedHandle; }
  bool AllSent() const { return FAllSent; }
  bool Paused() const { return FPaused; }
  // The message of the last exception that ended a read loop (the loop doesn't let it out).
  const std::string& LastReadLoopError() const { return FReadLoopError; }
  // The message of the last report that fired OnError in place of raising, for the handler.
  const std::string& LastErrorMessage() const { return FErrorMessage; }

  // ---- TLS: a layer over the same handle and notifications ----
  // Once TLS is on, Send encrypts, and OnDataAvailable, RcvdCount and Receive deal in the
  // decrypted bytes; ReadLine and WaitForClose are not available. The certificate is never
  // refused by the handshake itself: the owner reads TlsPeer() when the handshake has ended and
  // decides before it sends anything. Bytes sent while the handshake runs are held until the
  // owner accepts the peer (AcceptTlsPeer, or its next Send); a close drops them unsent.
  //
  // Implicit TLS: every later Connect starts the handshake as soon as the connection stands, and
  // OnSessionConnected fires only when the handshake has ended, with Error 0 or kTlsFailedError.
  void SetTlsAtConnect(std::optional<TTlsParams> params) { tls_at_connect_ = std::move(params); }
  // TLS on the open connection (after a STARTTLS-like command); the end arrives as
  // OnTlsDone(0 or kTlsFailedError). Bytes received before the call are not part of the
  // session. Raises ESocketException when not connected or when TLS is already on.
  void StartTls(const TTlsParams& params);
  // Stays readable after a close, until the next Connect; so do TlsPeer and TlsFailure.
  TTlsState TlsState() const;
  const TTlsPeer& TlsPeer() const;
  const std::string& TlsFailure() const;
  // The owner has judged TlsPeer() and accepts it: what was sent during the handshake goes out.
  // Does nothing unless the handshake has succeeded.
  void AcceptTlsPeer() { ReleaseHeld(); }
  TSocketErrorEvent OnTlsDone;

 protected:
  void Notification(TComponent* AComponent, TOperation operation) override;

  // ---- non-virtual internals ----
  void HandleSocketEvent(std::uintptr_t wparam, std::intptr_t lparam);
  void HandleLookupDone(std::uintptr_t wparam, std::intptr_t lparam);
  void ChangeState(TSocketState new_state);
  void CloseSocket(bool do_shutdown);
  void TryToSend();
  void BufferData(const void* data, int len);
  void StartLine();
  void ReadLineChars();
  void HandleRead(Word error);
  bool CheckWaitCtrl();
  void SocketError(const std::string& func_text);
  void StopWaitCtrl();  // when single-threaded and a control is assigned
  void OpenedHandle();  // a new handle became current (drops self-posted stale messages)
  // The layer over the handle (wsocket_layer.cpp); none: plain.
  void StackLayer(std::unique_ptr<StreamLayer> layer, bool reports_connect);
  // False when no session could be made; the caller then reports the connection as failed.
  bool StackTlsAtConnect();
  void HandleLayerRead(Word error);
  void LayerOpened();
  void ReleaseHeld();
  int ReceiveFromLayer(void* buffer, int size);
  void ShutdownLayer();
  int ReadBelow(void* buffer, int size) override;
  void QueueBelow(const void* data, int len) override;
  void SendNowBelow(const void* data, int len) override;
  void PostSelf(int events);

  // ---- fields ----
  TSocket FSocketHandle = INVALID_SOCKET;
  bool FPortAssigned = false;
  bool FAddrAssigned = false;
  bool FProtoAssigned = true;
  std::string FProtoStr = "tcp";
  std::string FAddrStr;
  std::string FPortStr;
  int FPortNum = 0;
  int FLocalPortNum = 0;
  int FProtoNum = IPPROTO_TCP;
  int FSocketType = SOCK_STREAM;
  std::string FDnsResult;
  std::vector<std::string> FDnsResultList;
  int FAddrFamily = AF_INET;
  TSocket FAcceptedHandle = INVALID_SOCKET;
  TSocketState FState = wsClosed;
  int FFlushTimeout = 60;
  std::deque<std::unique_ptr<TBuffer>> FSendBufferList;
  int FBufferSize = kSocketBufferSize;
  int FSendFlagsValue = 0;
  bool FMultiThreaded = false;
  TWaitControl* FWaitCtrl = nullptr;
  TSocketState FWaitingFor = wsInvalidState;
  int FLastError = 0;
  bool FPaused = false;
  bool FAllSent = true;
  std::string FLineBuffer;  // at most 255 characters
  int FLineLength = 0;
  bool FReadLineMode = false;
  int FReadCount = 0;
  bool FCloseInvoked = false;
  platform::WindowHandle FWindowHandle = 0;
  platform::LookupTask FDnsTask = 0;
  sockaddr_in FSockAddr{};
  std::uint16_t FHandleSerial = 0;  // tags self-posted notifications of the current handle
  std::string FReadLoopError;
  std::string FErrorMessage;
  std::unique_ptr<unsigned char[]> FSendStaging;  // gathers blocks for one send call
  std::optional<TTlsParams> tls_at_connect_;
  std::unique_ptr<StreamLayer> layer_;  // none: plain; kept after a close until the next Connect
  TlsLayer* tls_ = nullptr;             // layer_ seen as TLS, for the TLS read-outs
  bool layer_reports_connect_ = false;  // OnSessionConnected waits for the layer to open
  // False once the destructor has run: a handler may free the socket, and the code that fired
  // it holds a copy to know it must not touch the object any more.
  std::shared_ptr<bool> FAlive = std::make_shared<bool>(true);
};

// Publishes the properties; adds no behaviour.
class TWSocket : public TCustomWSocket {
 public:
  using TCustomWSocket::TCustomWSocket;
};

// ---- unit routines ----

// Leading blanks, then decimal digits while they last (32-bit wrap-around); 0 without digits.
int ParseNumber(const std::string& text);
// Dotted address, "255.255.255.255" or a host name (blocking look-up) to a 32-bit address in
// network order. Raises ESocketException "SetAddr: Cannot convert host address '<Host>'".
std::uint32_t ResolveHostAddr(const std::string& host);
// Starts the socket library once per process; raises "%s: WSAStartup error #%d" on failure.
void StartWinsock(const std::string& library_name);
// Frees what OpenSSL keeps for the calling thread (its random generator, its error queue). A
// thread that used TLS calls it once it uses TLS no more, so nothing of it is left when the thread
// ends late, after the process has begun to exit.
void ReleaseTlsThreadState();
// Live socket components, and whether the library is started. Thread-safe.
int SocketCount();
bool WinsockStarted();

}  // namespace dovrik
