// Addresses, ports, protocols, name look-up and the local and remote ends.
#include <arpa/inet.h>
#include <netdb.h>

#include "platform/async_select.h"
#include "platform/host_lookup.h"
#include "platform/message_param.h"
#include "platform/socket_errors.h"
#include "platform/trim.h"
#include "socket/wsocket.h"

namespace dovrik {
namespace {

bool StartsWithDigit(const std::string& s) {
  return !s.empty() && s[0] >= '0' && s[0] <= '9';
}

std::string Dotted(std::uint32_t net_addr) {
  in_addr a{};
  a.s_addr = net_addr;
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &a, text, sizeof text);
  return text;
}

// Service port in network order; false when the database lacks it. Re-entrant.
bool LookupService(const std::string& name, const std::string& proto, std::uint16_t& port) {
  servent entry{};
  servent* found = nullptr;
  char buf[1024];
  const std::string n = name.substr(0, 31), p = proto.substr(0, 31);
  if (getservbyname_r(n.c_str(), p.empty() ? nullptr : p.c_str(), &entry, buf, sizeof buf,
                      &found) != 0 ||
      found == nullptr)
    return false;
  port = static_cast<std::uint16_t>(found->s_port);
  return true;
}

bool LookupProtocol(const std::string& name, int& number) {
  protoent entry{};
  protoent* found = nullptr;
  char buf[1024];
  const std::string n = name.substr(0, 31);
  if (getprotobyname_r(n.c_str(), &entry, buf, sizeof buf, &found) != 0 || found == nullptr)
    return false;
  number = static_cast<std::int16_t>(found->p_proto);
  return true;
}

}  // namespace

int ParseNumber(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  std::uint32_t value = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    value = value * 10u + static_cast<std::uint32_t>(text[i] - '0');
    ++i;
  }
  return static_cast<int>(value);
}

std::uint32_t ResolveHostAddr(const std::string& host_text) {
  std::string host(platform::TrimBlanks(host_text));
  if (host.size() > 255) host.resize(255);
  if (!WinsockStarted()) StartWinsock("wsock32.dll");
  const in_addr_t dotted = inet_addr(host.c_str());
  if (dotted != INADDR_NONE) return dotted;
  if (host == "255.255.255.255") return INADDR_NONE;
  std::vector<std::uint32_t> addrs;
  if (!host.empty() && platform::ResolveHostBlocking(host, addrs) == 0 && !addrs.empty())
    return addrs.front();
  throw ESocketException(Format("SetAddr: Cannot convert host address '%s'", {host_text}));
}

void TCustomWSocket::SetAddr(const std::string& value) {
  if (FAddrAssigned && value == FAddrStr) return;
  FAddrStr = value;
  if (Designing()) return;
  if (FState != wsClosed) {
    RaiseError("Cannot change Addr if not closed");
    return;
  }
  FAddrAssigned = false;
  FSockAddr.sin_addr.s_addr = ResolveHostAddr(value);
  FAddrAssigned = true;
}

void TCustomWSocket::SetPort(const std::string& value) {
  if (FPortAssigned && value == FPortStr) return;
  FPortStr = value;
  if (Designing()) return;
  if (FState != wsClosed) {
    RaiseError("Cannot change Port if not closed");
    return;
  }
  FPortAssigned = true;
  const std::string text(platform::TrimBlanks(value));
  if (StartsWithDigit(text)) {
    FSockAddr.sin_port = htons(static_cast<std::uint16_t>(ParseNumber(text) & 0xFFFF));
  } else {
    if (!WinsockStarted()) StartWinsock("wsock32.dll");
    std::uint16_t port = 0;
    // An empty text is reported like a name the service database lacks.
    if (text.empty() || !LookupService(text, FProtoStr, port)) {
      FPortAssigned = false;
      platform::SetLastSocketError(platform::kWsaNoData);
      SocketError("SetPort: Cannot convert port '" + text + "'");
      return;
    }
    FSockAddr.sin_port = port;
  }
  FPortNum = ntohs(FSockAddr.sin_port);
}

void TCustomWSocket::SetProto(const std::string& value) {
  if (FProtoAssigned && value == FProtoStr) return;
  FProtoStr = value;
  if (Designing()) return;
  if (FState != wsClosed) {
    RaiseError("Cannot change Proto if not closed");
    return;
  }
  const std::string text(platform::TrimBlanks(value));
  if (text == "not found") return;
  FProtoAssigned = true;
  if (StartsWithDigit(text)) {
    FProtoNum = ParseNumber(text);
  } else {
    if (!WinsockStarted()) StartWinsock("wsock32.dll");
    int number = 0;
    if (text.empty() || !LookupProtocol(text, number)) {
      FProtoAssigned = false;
      platform::SetLastSocketError(platform::kWsaNoData);
      SocketError("SetProto: Cannot convert protocol '" + text + "'");
      return;
    }
    FProtoNum = number;
  }
  FSocketType = FProtoNum == IPPROTO_UDP ? SOCK_DGRAM : SOCK_STREAM;
}

// ---------------------------------------------------------------- asynchronous look-up

void TCustomWSocket::DnsLookup(const std::string& host_name) {
  if (host_name.empty()) {
    RaiseError("DNS lookup: invalid host name.");
    DoDnsLookupDone(platform::kWsaEInval);
    return;
  }
  if (FDnsTask != 0) {
    platform::CancelHostLookup(FDnsTask);
    FDnsTask = 0;
  }
  FDnsResult.clear();
  FDnsResultList.clear();
  const in_addr_t dotted = inet_addr(host_name.c_str());
  if (dotted != INADDR_NONE) {
    FDnsResult = Dotted(dotted);
    DoDnsLookupDone(0);
    return;
  }
  FDnsTask = platform::StartHostLookup(host_name, FWindowHandle, kLookupDoneMessage);
  if (FDnsTask == 0)
    RaiseErrorFmt("%s: can't start DNS lookup, error #%d",
                  {host_name, platform::LastSocketError()});
}

void TCustomWSocket::HandleLookupDone(std::uintptr_t wparam, std::intptr_t lparam) {
  const auto task = static_cast<platform::LookupTask>(wparam);
  if (task == 0 || task != FDnsTask) return;  // cancelled or superseded
  FDnsTask = 0;
  const Word error = platform::NotifyError(lparam);
  platform::LookupResult result;
  const bool taken = platform::TakeLookupResult(task, result);
  if (error == 0 && taken) {
    for (std::uint32_t a : result.addrs) FDnsResultList.push_back(Dotted(a));
    if (!FDnsResultList.empty()) FDnsResult = FDnsResultList.front();
  }
  DoDnsLookupDone(error);
}

void TCustomWSocket::CancelDnsLookup() {
  if (FDnsTask == 0) return;
  const bool cancelled = platform::CancelHostLookup(FDnsTask);
  FDnsTask = 0;
  if (!cancelled) {
    if (platform::LastSocketError() == 0) platform::SetLastSocketError(platform::kWsaEInval);
    SocketError("WSACancelAsyncRequest");
    return;
  }
  if (!Destroying()) DoDnsLookupDone(platform::kWsaEIntr);
}

// ---------------------------------------------------------------- the two ends

std::string TCustomWSocket::GetPeerAddr() {
  if (FState != wsConnected) return "error";
  sockaddr_in peer{};
  socklen_t len = sizeof peer;
  if (platform::GetPeerName(FSocketHandle, reinterpret_cast<sockaddr*>(&peer), &len) != 0) {
    SocketError("GetPeerName");
    return "error";
  }
  return Dotted(peer.sin_addr.s_addr);
}

int TCustomWSocket::GetPeerName(sockaddr_in& name, int name_len) {
  if (FState != wsConnected) return -1;
  socklen_t len = name_len > 0 ? static_cast<socklen_t>(name_len) : 0;
  return platform::GetPeerName(FSocketHandle, reinterpret_cast<sockaddr*>(&name), &len) == 0 ? 0
                                                                                             : -1;
}

int TCustomWSocket::GetSockName(sockaddr_in& name, int& name_len) {
  socklen_t len = name_len > 0 ? static_cast<socklen_t>(name_len) : 0;
  const int r = platform::GetSockName(FSocketHandle, reinterpret_cast<sockaddr*>(&name), &len);
  if (r == 0) name_len = static_cast<int>(len);
  return r == 0 ? 0 : -1;
}

std::string TCustomWSocket::GetLocalPort() {
  if (FState != wsBound && FState != wsConnected && FState != wsListening) return "error";
  sockaddr_in local{};
  socklen_t len = sizeof local;
  if (platform::GetSockName(FSocketHandle, reinterpret_cast<sockaddr*>(&local), &len) != 0)
    return "error";
  return std::to_string(ntohs(local.sin_port));
}

}  // namespace dovrik
