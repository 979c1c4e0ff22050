// Where Dovrik keeps its values in the registry store, and the defaults it puts in their place.
// Every address here is loopback or a reserved name, so an unchanged setup never sends mail or a
// password to another machine.
#pragma once

namespace dovrik {

inline constexpr const char* kProgramKey = "PELLORY";             // under RegistryBaseKey
inline constexpr const char* kSettingsValue = "Settings";         // the 13-line settings text
inline constexpr const char* kLastFriendValue = "LASTFRIEND";     // last recipient of a new message
inline constexpr const char* kBaseFontKey = "PELLORY\\BaseFont";  // the display font's values

// Incoming and outgoing server of a first start.
inline constexpr const char* kDefaultServer = "127.0.0.1";
// "Your e-mail" of a first start.
inline constexpr const char* kDefaultSender = "Dovrik User <user@localhost>";
// The recipient proposed for a new message while "LASTFRIEND" is missing.
inline constexpr const char* kDefaultRecipient = "friend@example.invalid";

}  // namespace dovrik
