// Windows Sockets error numbers: the only error numbers the socket layer reports and compares.
#pragma once

#include <string>

namespace dovrik::platform {

// An errno value with no Windows Sockets counterpart maps to kUnknownErrnoBase + errno: outside
// the table (so its text is "Not a WinSock error"), but the native number can still be read back.
inline constexpr int kUnknownErrnoBase = 20000;

// errno value -> Windows Sockets number (EAGAIN/EWOULDBLOCK and EINPROGRESS -> 10035,
// ECONNREFUSED -> 10061, EPIPE -> 10058, ...). 0 stays 0.
int WsaErrorFromErrno(int err);
// getaddrinfo-style resolver results -> 11001..11004 (EAI_NONAME 11001, EAI_AGAIN 11002,
// EAI_FAIL 11003, no IPv4 data 11004; EAI_SYSTEM goes through errno). 0 stays 0.
int WsaErrorFromResolver(int gai_error);

// The fixed description table ("Connection refused", ..., "Not a WinSock error").
std::string SocketErrorText(int code);

}  // namespace dovrik::platform
