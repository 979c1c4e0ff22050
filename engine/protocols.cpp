#include "engine/protocols.h"

#include <array>
#include <cctype>

namespace dovrik {
namespace {

constexpr std::array<ProtocolInfo, 2> kProtocols{{
    {ProtocolId::kPop3, true, "pop3", "110", "110", "995", "pop3s", ReplyStyle::kStatusLine, "STLS",
     "+OK"},
    {ProtocolId::kSmtp, false, "smtp", "25", "587", "465", "submissions", ReplyStyle::kCodedLines,
     "STARTTLS", "220"},
}};

std::string LowerTrimmed(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

std::span<const ProtocolInfo> Protocols() {
  return kProtocols;
}

const ProtocolInfo& Protocol(ProtocolId anId) {
  return kProtocols[static_cast<std::size_t>(anId)];
}

SecurityMode ImpliedSecurity(std::string_view aPort) {
  const std::string port = LowerTrimmed(aPort);
  for (const ProtocolInfo& p : kProtocols)
    if (port == p.tls_port || port == p.tls_service) return SecurityMode::kTls;
  return SecurityMode::kNone;
}

std::string DefaultPort(SecurityMode aMode, bool anIncoming) {
  const ProtocolInfo& p = Protocol(anIncoming ? ProtocolId::kPop3 : ProtocolId::kSmtp);
  switch (aMode) {
    case SecurityMode::kTls:
      return std::string(p.tls_port);
    case SecurityMode::kStartTls:
      return std::string(p.starttls_port);
    case SecurityMode::kNone:
      break;
  }
  return std::string(p.plain_port);
}

}  // namespace dovrik
