#include "platform/socket_errors.h"

#include <errno.h>
#include <netdb.h>

#include <iterator>

namespace dovrik::platform {
namespace {

struct ErrnoPair {
  int native;
  int wsa;
};

// Linux errno -> Windows Sockets number, by name. Several names share one value on Linux
// (EAGAIN/EWOULDBLOCK, EOPNOTSUPP/ENOTSUP), so this is a searched list, not a switch.
constexpr ErrnoPair kErrnoTable[] = {
    {EINTR, kWsaEIntr},
    {EBADF, kWsaEBadF},
    {EACCES, kWsaEAcces},
    {EPERM,
     kWsaEAcces},  // a refused operation (for example a filtered port) reads as access denied
    {EFAULT, kWsaEFault},
    {EINVAL, kWsaEInval},
    {EMFILE, kWsaEMFile},
    {ENFILE, kWsaEMFile},
    {EAGAIN, kWsaEWouldBlock},
    {EWOULDBLOCK, kWsaEWouldBlock},
    // A non-blocking connect that has started reports would-block, as the socket layer expects.
    {EINPROGRESS, kWsaEWouldBlock},
    {EALREADY, kWsaEAlready},
    {ENOTSOCK, kWsaENotSock},
    {EDESTADDRREQ, kWsaEDestAddrReq},
    {EMSGSIZE, kWsaEMsgSize},
    {EPROTOTYPE, kWsaEProtoType},
    {ENOPROTOOPT, kWsaENoProtoOpt},
    {EPROTONOSUPPORT, kWsaEProtoNoSupport},
    {ESOCKTNOSUPPORT, kWsaESocktNoSupport},
    {EOPNOTSUPP, kWsaEOpNotSupp},
    {ENOTSUP, kWsaEOpNotSupp},
    {EPFNOSUPPORT, kWsaEPfNoSupport},
    {EAFNOSUPPORT, kWsaEAfNoSupport},
    {EADDRINUSE, kWsaEAddrInUse},
    {EADDRNOTAVAIL, kWsaEAddrNotAvail},
    {ENETDOWN, kWsaENetDown},
    {ENETUNREACH, kWsaENetUnreach},
    {ENETRESET, kWsaENetReset},
    {ECONNABORTED, kWsaEConnAborted},
    {ECONNRESET, kWsaEConnReset},
    {ENOBUFS, kWsaENoBufs},
    {ENOMEM, kWsaENoBufs},
    {EISCONN, kWsaEIsConn},
    {ENOTCONN, kWsaENotConn},
    {ESHUTDOWN, kWsaEShutdown},
    // Linux reports a send on a connection whose sending side is shut down as EPIPE.
    {EPIPE, kWsaEShutdown},
    {ETOOMANYREFS, kWsaETooManyRefs},
    {ETIMEDOUT, kWsaETimedOut},
    {ECONNREFUSED, kWsaEConnRefused},
    {ELOOP, kWsaELoop},
    {ENAMETOOLONG, kWsaENameTooLong},
    {EHOSTDOWN, kWsaEHostDown},
    {EHOSTUNREACH, kWsaEHostUnreach},
    {ENOTEMPTY, kWsaENotEmpty},
    {EUSERS, kWsaEUsers},
    {EDQUOT, kWsaEDQuot},
    {ESTALE, kWsaEStale},
    {EREMOTE, kWsaERemote},
};

struct TextPair {
  int code;
  const char* text;
};

constexpr TextPair kTextTable[] = {
    {0, "No Error"},
    {kWsaEIntr, "Interrupted system call"},
    {kWsaEBadF, "Bad file number"},
    {kWsaEAcces, "Permission denied"},
    {kWsaEFault, "Bad address"},
    {kWsaEInval, "Invalid argument"},
    {kWsaEMFile, "Too many open files"},
    {kWsaEWouldBlock, "Operation would block"},
    {kWsaEInProgress, "Operation now in progress"},
    {kWsaEAlready, "Operation already in progress"},
    {kWsaENotSock, "Socket operation on non-socket"},
    {kWsaEDestAddrReq, "Destination address required"},
    {kWsaEMsgSize, "Message too long"},
    {kWsaEProtoType, "Protocol wrong type for socket"},
    {kWsaENoProtoOpt, "Protocol not available"},
    {kWsaEProtoNoSupport, "Protocol not supported"},
    {kWsaESocktNoSupport, "Socket type not supported"},
    {kWsaEOpNotSupp, "Operation not supported on socket"},
    {kWsaEPfNoSupport, "Protocol family not supported"},
    {kWsaEAfNoSupport, "Address family not supported by protocol family"},
    {kWsaEAddrInUse, "Address already in use"},
    {kWsaEAddrNotAvail, "Address not available"},
    {kWsaENetDown, "Network is down"},
    {kWsaENetUnreach, "Network is unreachable"},
    {kWsaENetReset, "Network dropped connection on reset"},
    {kWsaEConnAborted, "Connection aborted"},
    {kWsaEConnReset, "Connection reset by peer"},
    {kWsaENoBufs, "No buffer space available"},
    {kWsaEIsConn, "Socket is already connected"},
    {kWsaENotConn, "Socket is not connected"},
    {kWsaEShutdown, "Can't send after socket shutdown"},
    {kWsaETooManyRefs, "Too many references: can't splice"},
    {kWsaETimedOut, "Connection timed out"},
    {kWsaEConnRefused, "Connection refused"},
    {kWsaELoop, "Too many levels of symbolic links"},
    {kWsaENameTooLong, "File name too long"},
    {kWsaEHostDown, "Host is down"},
    {kWsaEHostUnreach, "No route to host"},
    {kWsaENotEmpty, "Directory not empty"},
    {kWsaEProcLim, "Too many processes"},
    {kWsaEUsers, "Too many users"},
    {kWsaEDQuot, "Disc quota exceeded"},
    {kWsaEStale, "Stale NFS file handle"},
    {kWsaERemote, "Too many levels of remote in path"},
    {kWsaSysNotReady, "Network sub-system is unusable"},
    {kWsaVerNotSupported, "WinSock DLL cannot support this application"},
    {kWsaNotInitialised, "WinSock not initialized"},
    {kWsaHostNotFound, "Host not found"},
    {kWsaTryAgain, "Non-authoritative host not found"},
    {kWsaNoRecovery, "Non-recoverable error"},
    {kWsaNoData, "No Data"},
};

}  // namespace

int WsaErrorFromErrno(int err) {
  if (err == 0) return 0;
  for (const auto& p : kErrnoTable) {
    if (p.native == err) return p.wsa;
  }
  return kUnknownErrnoBase + err;
}

int WsaErrorFromResolver(int gai_error) {
  switch (gai_error) {
    case 0:
      return 0;
    case EAI_NONAME:
      return kWsaHostNotFound;
    case EAI_AGAIN:
      return kWsaTryAgain;
    case EAI_FAIL:
      return kWsaNoRecovery;
#ifdef EAI_NODATA
    case EAI_NODATA:
      return kWsaNoData;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:  // the host exists but has no IPv4 address
      return kWsaNoData;
#endif
    case EAI_SERVICE:
      return kWsaNoData;
    case EAI_FAMILY:
      return kWsaEAfNoSupport;
    case EAI_SOCKTYPE:
      return kWsaESocktNoSupport;
    case EAI_BADFLAGS:
      return kWsaEInval;
    case EAI_MEMORY:
      return kWsaENoBufs;
    case EAI_SYSTEM: {
      int e = errno;
      return e != 0 ? WsaErrorFromErrno(e) : kWsaNoRecovery;
    }
    default:
      return kWsaNoRecovery;
  }
}

std::string SocketErrorText(int code) {
  for (const auto& p : kTextTable) {
    if (p.code == code) return p.text;
  }
  return "Not a WinSock error";
}

}  // namespace dovrik::platform
