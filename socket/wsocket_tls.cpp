// TLS over the socket: the handshake driven by the same read and write notifications, encryption
// into the send chain, decryption into a plain-text buffer that Receive takes from.
#include <openssl/crypto.h>

#include <algorithm>
#include <cstring>

#include "platform/async_select.h"
#include "platform/message_param.h"
#include "platform/socket_errors.h"
#include "socket/wsocket.h"
#include "socket/wsocket_internal.h"

namespace dovrik {
namespace {

// Raw bytes taken from the platform per step: large enough for few calls, small enough that the
// plain text waiting for the owner stays small however fast the server sends.
constexpr int kTlsChunk = 64 * 1024;
// Plain text encrypted per record batch, so a large send never holds its whole cipher text twice.
constexpr int kTlsWriteChunk = 16 * 1024;

}  // namespace

void TCustomWSocket::ResetTls() {
  FTls.reset();
  FTlsState = tlsOff;
  FTlsImplicit = false;
  FTlsPeer = TTlsPeer{};
  FTlsFailure.clear();
  FTlsPlain.clear();
  FTlsPlainPos = 0;
  FTlsPending.clear();
}

void TCustomWSocket::StartTls(const TTlsParams& Params) {
  if (FSocketHandle == INVALID_SOCKET || FState != wsConnected) {
    RaiseError("StartTls: Socket not connected");
    return;
  }
  if (TlsOn()) {
    RaiseError("StartTls: TLS already started");
    return;
  }
  BeginTls(Params);
}

void TCustomWSocket::BeginTls(const TTlsParams& Params) {
  ResetTls();
  if (!FTlsIn) FTlsIn = std::make_unique_for_overwrite<char[]>(kTlsChunk);
  FTls = std::make_unique<TlsSession>(Params);
  FTlsState = tlsHandshaking;
  FTls->Start();
  FlushTls();
}

void TCustomWSocket::BeginTlsAtConnect() {
  try {
    BeginTls(*FTlsAtConnect);
    FTlsImplicit = true;
  } catch (const ESocketException& e) {
    // No session could be made (an unreadable CA file, say): the connection is of no use.
    FTlsState = tlsFailed;
    FTlsFailure = e.Message();
    DoSessionConnected(kTlsFailedError);
  }
}

void TCustomWSocket::FlushTls() {
  const std::string_view out = FTls->Output();
  if (out.empty()) return;
  FAllSent = false;
  BufferData(out.data(), static_cast<int>(out.size()));
  FTls->ConsumeOutput();
  TryToSend();
}

void TCustomWSocket::PostSelf(int Events) {
  const auto lparam =
      platform::MakeNotifyParam(static_cast<std::uint32_t>(Events), 0, FHandleSerial);
  platform::PostMessage(FWindowHandle, SocketEventMessage,
                        static_cast<std::uintptr_t>(FSocketHandle), lparam);
}

bool TCustomWSocket::PullTls() {
  const int n = platform::Recv(FSocketHandle, FTlsIn.get(), kTlsChunk, 0);
  if (n > 0) {
    FReadCount = static_cast<int>(static_cast<unsigned>(FReadCount) + static_cast<unsigned>(n));
    FTls->Feed(FTlsIn.get(), static_cast<std::size_t>(n));
  } else if (n < 0 && platform::LastSocketError() != platform::kWsaEWouldBlock) {
    FLastError = platform::LastSocketError();
  }
  if (FTlsPlainPos == FTlsPlain.size()) {
    FTlsPlain.clear();
    FTlsPlainPos = 0;
  }
  const TTlsStep step = FTls->Advance(FTlsPlain);
  if (step == TTlsStep::tsEstablished && FTlsState == tlsHandshaking) FTlsPeer = FTls->Peer();
  if (step == TTlsStep::tsFailed) FTlsFailure = FTls->Failure();
  const std::shared_ptr<bool> alive = FAlive;
  FlushTls();  // the handshake's answers and alerts; a failed send closes the socket
  if (!*alive || !FTls) return false;
  if (step == TTlsStep::tsEstablished) {
    FTlsState = tlsEstablished;
  } else if (step == TTlsStep::tsFailed) {
    FTlsState = tlsFailed;
  } else if (n == 0 || (n < 0 && FLastError != 0)) {
    FTlsState = tlsFailed;
    FTlsFailure = "the server closed the connection during the handshake";
  }
  return n == kTlsChunk;
}

void TCustomWSocket::TlsHandshakeEnded() {
  if (FTlsState == tlsEstablished) {
    if (!FTlsPending.empty()) {
      std::string pending;
      pending.swap(FTlsPending);
      if (EncryptForSend(pending.data(), static_cast<int>(pending.size()))) TryToSend();
    }
  }
  // Plain text that came with the end of the handshake waits for the next dispatch, so the
  // owner has seen the end before its first data notification.
  if (TlsPlainWaiting() > 0) PostSelf(platform::kFdRead);
  const Word word = FTlsState == tlsEstablished ? 0 : kTlsFailedError;
  if (FTlsImplicit) {
    FTlsImplicit = false;
    DoSessionConnected(word);
  } else if (OnTlsDone) {
    OnTlsDone(this, word);
  }
}

void TCustomWSocket::HandleTlsRead(Word Error) {
  const std::shared_ptr<bool> alive = FAlive;
  const TSocket s = FSocketHandle;
  auto current = [&] { return *alive && FSocketHandle == s && FTls; };
  try {
    for (;;) {
      FLastError = 0;
      const TTlsState before = FTlsState;
      bool more = false;
      if (FTlsState == tlsHandshaking || FTlsState == tlsEstablished) more = PullTls();
      if (!current()) return;
      if (before == tlsHandshaking && FTlsState != tlsHandshaking) {
        TlsHandshakeEnded();
        return;
      }
      if (FTlsState != tlsEstablished) return;
      const std::size_t waiting = TlsPlainWaiting();
      if (waiting > 0) {
        if (!DoDataAvailable(Error)) return;  // the plain text stays for Receive
        if (!current()) return;
        if (TlsPlainWaiting() == waiting) return;  // the handler took nothing
      } else if (!more) {
        return;
      }
      if (FLastError != 0) return;
      if (TlsPlainWaiting() == 0 && !more) return;
    }
  } catch (const std::exception& e) {
    if (*alive) FReadLoopError = e.what();
  }
}

bool TCustomWSocket::EncryptForSend(const void* Data, int Len) {
  if (FTlsState == tlsHandshaking) {
    FTlsPending.append(static_cast<const char*>(Data), static_cast<std::size_t>(Len));
    return true;
  }
  if (FTlsState != tlsEstablished) {
    RaiseError("Send: TLS session failed: " + FTlsFailure);
    return false;
  }
  const auto* p = static_cast<const char*>(Data);
  for (int done = 0; done < Len;) {
    const int part = std::min(kTlsWriteChunk, Len - done);
    if (!FTls->Write(p + done, static_cast<std::size_t>(part))) {
      FTlsState = tlsFailed;
      FTlsFailure = FTls->Failure();
      RaiseError("Send: TLS session failed: " + FTlsFailure);
      return false;
    }
    const std::string_view out = FTls->Output();
    BufferData(out.data(), static_cast<int>(out.size()));
    FTls->ConsumeOutput();
    done += part;
  }
  return true;
}

int TCustomWSocket::ReceiveTls(void* Buffer, int BufferSize) {
  const std::size_t waiting = TlsPlainWaiting();
  if (waiting == 0 || BufferSize <= 0) {
    FLastError = platform::kWsaEWouldBlock;
    platform::SetLastSocketError(platform::kWsaEWouldBlock);
    return -1;
  }
  const std::size_t n = std::min(waiting, static_cast<std::size_t>(BufferSize));
  std::memcpy(Buffer, FTlsPlain.data() + FTlsPlainPos, n);
  FTlsPlainPos += n;
  if (FTlsPlainPos == FTlsPlain.size()) {
    FTlsPlain.clear();
    FTlsPlainPos = 0;
  }
  return static_cast<int>(n);
}

void TCustomWSocket::EndTls() {
  FTls.reset();
}

void ReleaseTlsThreadState() {
  OPENSSL_thread_stop();
}

void TCustomWSocket::SendCloseNotify() {
  if (!FTls || FTlsState != tlsEstablished || !FAllSent) return;
  // Best effort, straight to the platform: the connection is going anyway, and a failure here
  // must not start another close.
  FTls->Shutdown();
  const std::string_view out = FTls->Output();
  if (!out.empty()) platform::Send(FSocketHandle, out.data(), static_cast<int>(out.size()), 0);
  FTls->ConsumeOutput();
}

}  // namespace dovrik
