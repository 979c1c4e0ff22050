#include "model/security_choice.h"

#include <cctype>
#include <span>

#include "platform/trim.h"
#include "settings/security_settings.h"

namespace dovrik {
namespace {

// The usual port of a choice by number and by its service names.
std::span<const std::string_view> UsualPortNames(SecurityMode mode, bool incoming) {
  static constexpr std::string_view kInPlain[] = {"110", "pop3"};
  static constexpr std::string_view kInTls[] = {"995", "pop3s"};
  static constexpr std::string_view kOutPlain[] = {"25", "smtp"};
  static constexpr std::string_view kOutStartTls[] = {"587", "submission"};
  static constexpr std::string_view kOutTls[] = {"465", "submissions", "smtps"};
  switch (mode) {
    case SecurityMode::kTls:
      return incoming ? std::span<const std::string_view>(kInTls) : kOutTls;
    case SecurityMode::kStartTls:
      return incoming ? std::span<const std::string_view>(kInPlain) : kOutStartTls;
    case SecurityMode::kNone:
      break;
  }
  return incoming ? std::span<const std::string_view>(kInPlain) : kOutPlain;
}

bool IsUsualPort(const std::string& port, SecurityMode mode, bool incoming) {
  for (std::string_view name : UsualPortNames(mode, incoming))
    if (port == name) return true;
  return false;
}

}  // namespace

QString SecurityCaption(SecurityMode mode) {
  switch (mode) {
    case SecurityMode::kStartTls:
      return QStringLiteral("STARTTLS");
    case SecurityMode::kTls:
      return QStringLiteral("TLS from the first byte");
    case SecurityMode::kNone:
      break;
  }
  return QStringLiteral("None");
}

QString SecurityMeaning(SecurityMode mode) {
  switch (mode) {
    case SecurityMode::kStartTls:
      return QStringLiteral("STARTTLS: starts in clear, encrypts before the login.");
    case SecurityMode::kTls:
      return QStringLiteral("TLS: encrypted from the first byte (ports 995, 465).");
    case SecurityMode::kNone:
      break;
  }
  return QStringLiteral("None: nothing is encrypted, not even the password.");
}

std::optional<std::string> ProposedPort(std::string_view port, SecurityMode from, SecurityMode to,
                                        bool incoming) {
  const std::string current = platform::LowerTrimmed(port);
  if (!current.empty() && !IsUsualPort(current, from, incoming)) return std::nullopt;
  if (!current.empty() && IsUsualPort(current, to, incoming)) return std::nullopt;
  return UsualPort(to, incoming);
}

}  // namespace dovrik
