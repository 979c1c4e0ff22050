// The mail protocols the engine speaks, in one table: their default services, their ports for
// each security mode, how their replies end and how they ask for TLS. Core: no Qt; depends on
// nothing but the security modes, so the settings can use it without the rest of the engine.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "engine/security.h"

namespace dovrik {

enum class ProtocolId : int { kPop3 = 0, kSmtp = 1 };

// Where a reply ends. kStatusLine: with its first line (POP3 "+OK" / "-ERR"). kCodedLines: with
// the first line whose fourth character is not a hyphen (SMTP "250-..." continues a reply).
// A protocol with tagged replies adds its style here.
enum class ReplyStyle : int { kStatusLine, kCodedLines };

struct ProtocolInfo {
  ProtocolId id;
  bool incoming;                     // reads the mailbox (else sends mail)
  std::string_view default_service;  // the engine's port before the user names one
  std::string_view plain_port;       // the usual port for each security mode
  std::string_view starttls_port;
  std::string_view tls_port;
  std::string_view tls_service;  // the service name of the TLS-from-the-first-byte port
  ReplyStyle reply_style;
  std::string_view starttls_command;  // the upgrade after the greeting, and its go-ahead code
  std::string_view starttls_go_ahead;
};

std::span<const ProtocolInfo> Protocols();
const ProtocolInfo& Protocol(ProtocolId anId);

// What a port implies when no security mode is stored: any protocol's TLS port or service means
// TLS from the first byte, every other port none. Blanks around and case are ignored.
SecurityMode ImpliedSecurity(std::string_view aPort);
// The port to propose for a mode: the incoming protocol's or the outgoing one's.
std::string DefaultPort(SecurityMode aMode, bool anIncoming);

}  // namespace dovrik
