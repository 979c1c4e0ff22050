// Reading SMTP replies of several lines (EHLO's list of extensions) and building login lines.
// Plain functions of text, used by the encrypted SMTP session.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace dovrik {

// True once the text holds the last line of a reply: a complete line whose fourth character is
// not '-' ("250 OK", "250"); continuation lines are "250-…".
bool SmtpReplyComplete(std::string_view aReply);
// Whether an EHLO reply announces the extension (case-insensitive), e.g. "STARTTLS".
bool SmtpOffers(std::string_view aReply, std::string_view anExtension);
// The login mechanisms of the AUTH line ("AUTH PLAIN LOGIN", or the old "AUTH=PLAIN"), upper case.
std::vector<std::string> SmtpAuthMechanisms(std::string_view aReply);
// Base64 (RFC 4648) of the bytes, with padding.
std::string Base64(std::string_view aBytes);

}  // namespace dovrik
