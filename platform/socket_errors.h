// Windows Sockets error numbers: the only error numbers the socket layer reports and compares.
#pragma once

#include <string>

namespace dovrik::platform {

// An errno value with no Windows Sockets counterpart maps to kUnknownErrnoBase + errno: outside
// the table (so its text is "Not a WinSock error"), but the native number can still be read back.
inline constexpr int kUnknownErrnoBase = 20000;

// The Windows Sockets error numbers, named once; code compares and sets them by these names.
inline constexpr int kWsaEIntr = 10004;
inline constexpr int kWsaEBadF = 10009;
inline constexpr int kWsaEAcces = 10013;
inline constexpr int kWsaEFault = 10014;
inline constexpr int kWsaEInval = 10022;
inline constexpr int kWsaEMFile = 10024;
inline constexpr int kWsaEWouldBlock = 10035;
inline constexpr int kWsaEInProgress = 10036;
inline constexpr int kWsaEAlready = 10037;
inline constexpr int kWsaENotSock = 10038;
inline constexpr int kWsaEDestAddrReq = 10039;
inline constexpr int kWsaEMsgSize = 10040;
inline constexpr int kWsaEProtoType = 10041;
inline constexpr int kWsaENoProtoOpt = 10042;
inline constexpr int kWsaEProtoNoSupport = 10043;
inline constexpr int kWsaESocktNoSupport = 10044;
inline constexpr int kWsaEOpNotSupp = 10045;
inline constexpr int kWsaEPfNoSupport = 10046;
inline constexpr int kWsaEAfNoSupport = 10047;
inline constexpr int kWsaEAddrInUse = 10048;
inline constexpr int kWsaEAddrNotAvail = 10049;
inline constexpr int kWsaENetDown = 10050;
inline constexpr int kWsaENetUnreach = 10051;
inline constexpr int kWsaENetReset = 10052;
inline constexpr int kWsaEConnAborted = 10053;
inline constexpr int kWsaEConnReset = 10054;
inline constexpr int kWsaENoBufs = 10055;
inline constexpr int kWsaEIsConn = 10056;
inline constexpr int kWsaENotConn = 10057;
inline constexpr int kWsaEShutdown = 10058;
inline constexpr int kWsaETooManyRefs = 10059;
inline constexpr int kWsaETimedOut = 10060;
inline constexpr int kWsaEConnRefused = 10061;
inline constexpr int kWsaELoop = 10062;
inline constexpr int kWsaENameTooLong = 10063;
inline constexpr int kWsaEHostDown = 10064;
inline constexpr int kWsaEHostUnreach = 10065;
inline constexpr int kWsaENotEmpty = 10066;
inline constexpr int kWsaEProcLim = 10067;
inline constexpr int kWsaEUsers = 10068;
inline constexpr int kWsaEDQuot = 10069;
inline constexpr int kWsaEStale = 10070;
inline constexpr int kWsaERemote = 10071;
inline constexpr int kWsaSysNotReady = 10091;
inline constexpr int kWsaVerNotSupported = 10092;
inline constexpr int kWsaNotInitialised = 10093;
inline constexpr int kWsaHostNotFound = 11001;
inline constexpr int kWsaTryAgain = 11002;
inline constexpr int kWsaNoRecovery = 11003;
inline constexpr int kWsaNoData = 11004;

// errno value -> Windows Sockets number (EAGAIN/EWOULDBLOCK and EINPROGRESS -> 10035,
// ECONNREFUSED -> 10061, EPIPE -> 10058, ...). 0 stays 0.
int WsaErrorFromErrno(int err);
// getaddrinfo-style resolver results -> 11001..11004 (EAI_NONAME 11001, EAI_AGAIN 11002,
// EAI_FAIL 11003, no IPv4 data 11004; EAI_SYSTEM goes through errno). 0 stays 0.
int WsaErrorFromResolver(int gai_error);

// The fixed description table ("Connection refused", ..., "Not a WinSock error").
std::string SocketErrorText(int code);

}  // namespace dovrik::platform
