// The encryption choice of a server as the settings window offers it: the captions, what each
// means in one line, and the port proposed when the user switches. Pure.
#pragma once

#include <QString>
#include <optional>
#include <string>
#include <string_view>

#include "engine/security.h"

namespace dovrik {

// In the order of the choice lists: none, STARTTLS, TLS.
inline constexpr SecurityMode kSecurityModes[] = {SecurityMode::kNone, SecurityMode::kStartTls,
                                                  SecurityMode::kTls};

QString SecurityCaption(SecurityMode mode);  // "None", "STARTTLS", "TLS from the first byte"
QString SecurityMeaning(SecurityMode mode);  // one short line

// The port to put into the port field when the user switches the server's choice from `from` to
// `to`: the usual port of `to`, but only while the field is empty or still holds the usual port
// of `from` (by number or service name), so a port the user typed is never replaced. Nothing
// when the field should stay as it is.
std::optional<std::string> ProposedPort(std::string_view port, SecurityMode from, SecurityMode to,
                                        bool incoming);

}  // namespace dovrik
