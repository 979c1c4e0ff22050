// The encryption choice of each server as stored with the settings: separate values under the
// program's key beside the 13-line "Settings" text, which keeps its exact form. The rows are in
// settings/stored_values.h:
//   "InSecurity", "OutSecurity"  "none", "starttls" or "tls"; a missing or unknown value follows
//                                the port (SecurityForPort)
//   "InTrusted", "OutTrusted"    SHA-256 fingerprints of certificates the user trusts, separated
//                                by blanks
// Core, no Qt; called from the user-interface thread, like the other registry routines.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/security.h"
#include "settings/registry_text.h"
#include "settings/stored_values.h"

namespace dovrik {

// The key of the four values (stored::kInSecurity and the others).
inline constexpr const char* kSecurityKey = stored::kProgramKey;

// "none", "starttls", "tls" (any case, blanks around ignored); nullopt for anything else.
std::optional<SecurityMode> SecurityFromText(std::string_view aText);
std::string SecurityText(SecurityMode aMode);
// What a port implies when nothing is stored: 995 / "pop3s" and 465 / "submissions" mean TLS
// from the first byte, every other port none.
SecurityMode SecurityForPort(std::string_view aPort);
// The port to propose when the user picks a mode: incoming 110 / 110 / 995, outgoing
// 25 / 587 / 465 for none / starttls / tls.
std::string UsualPort(SecurityMode aMode, bool anIncoming);

// The fields keep the names the desktop half reads them by.
// NOLINTBEGIN(readability-identifier-naming)
struct ServerSecurity {
  SecurityMode In = SecurityMode::kNone;
  SecurityMode Out = SecurityMode::kNone;
  std::vector<std::string> InTrusted;
  std::vector<std::string> OutTrusted;
};
// NOLINTEND(readability-identifier-naming)

// Reads the four values; the ports decide a missing or unreadable mode.
ServerSecurity LoadServerSecurity(std::string_view anInPort, std::string_view anOutPort);
// Writes the four values in one replacement of the store. The password is never among them.
void SaveServerSecurity(const ServerSecurity& aSecurity);

// The four rows SaveServerSecurity writes, in the order they were always written, for a caller
// that joins them to other values of the program's key in one replacement of the store.
std::vector<RegValue> SecurityValues(const ServerSecurity& aSecurity);

}  // namespace dovrik
