// Windows Sockets error numbers: the only error numbers the socket layer reports and compares.
#pragma once

#include <string>

namespace dovrik::platform {

// errno value -> Windows Sockets number (EAGAIN/EWOULDBLOCK and EINPROGRESS -> 10035,
// ECONNREFUSED -> 10061, ...). Unknown values map to a number outside the table.
int WsaErrorFromErrno(int err);
// getaddrinfo/getservbyname-style resolver results -> 11001..11004.
int WsaErrorFromResolver(int gai_error);

// The fixed description table ("Connection refused", ..., "Not a WinSock error").
std::string SocketErrorText(int code);

}  // namespace dovrik::platform
