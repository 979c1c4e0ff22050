// Every value Dovrik keeps between runs, in one typed table: the key (under RegistryBaseKey), the
// value name, the type, and what a missing value means. Readers and writers name a row here
// instead of spelling keys, names and defaults again; tools and tests list the rows through
// kStoredValues. The store itself (file, format, atomic write) is settings/registry.h.
//
// Core, no Qt. The constants are usable anywhere; the read and write routines follow the registry
// routines' rules (the user-interface thread, ERegistryException on a wrong type or a failed
// write, defaults for what is missing). Every address here is loopback or a reserved name, so an
// unchanged setup never sends mail or a password to another machine.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "settings/registry_text.h"

namespace dovrik::stored {

// The mark of a running copy, recorded in its single-instance lock file (InstanceLock::kMarker)
// and set as a property of its main window (kInstanceMarker of the main window). Not kept in the
// store; it stands here so that both use one number.
inline constexpr std::uint32_t kInstanceMarker = 0x33786540;

// The keys, under RegistryBaseKey.
inline constexpr const char* kProgramKey = "PELLORY";
inline constexpr const char* kBaseFontKey = "PELLORY\\BaseFont";  // the display font's values

// Incoming and outgoing server of a first start.
inline constexpr const char* kDefaultServer = "127.0.0.1";
// "Your e-mail" of a first start.
inline constexpr const char* kDefaultSender = "Dovrik User <user@localhost>";
// The recipient proposed for a new message while "LASTFRIEND" is missing.
inline constexpr const char* kDefaultRecipient = "friend@example.invalid";

enum class StoredType : std::uint8_t { kString, kDword };

// What a missing value means. Every reader gets the row's default; for some rows the default is
// only a placeholder and the rule decides.
enum class WhenMissing : std::uint8_t {
  kDefault,      // the default is the value
  kFirstStart,   // missing or empty: a first start, the settings window opens with the lines'
                 // first-start defaults (kSettingsLines)
  kPortDecides,  // the server's port decides the security choice (SecurityForPort); an unknown
                 // text or a value of the other type counts as missing
  kFollowsSize,  // the font's height follows its size at the screen's resolution
};

// A string value; the typed handles keep a reader from asking a string for a number.
struct TextValue {
  std::string_view key;
  std::string_view name;
  std::string_view default_text;
  WhenMissing when_missing = WhenMissing::kDefault;
};

// A 32-bit value ("dword"); read as signed, written as its 32 bits.
struct DwordValue {
  std::string_view key;
  std::string_view name;
  std::int32_t default_dword = 0;
  WhenMissing when_missing = WhenMissing::kDefault;
};

// ---- the program's key
// The settings as one text of 13 lines joined by CR LF (kSettingsLines).
inline constexpr TextValue kSettings{kProgramKey, "Settings", "", WhenMissing::kFirstStart};
// The last recipient typed for a new message.
inline constexpr TextValue kLastFriend{kProgramKey, "LASTFRIEND", kDefaultRecipient};
// Encryption of each server: "none", "starttls" or "tls".
inline constexpr TextValue kInSecurity{kProgramKey, "InSecurity", "", WhenMissing::kPortDecides};
inline constexpr TextValue kOutSecurity{kProgramKey, "OutSecurity", "", WhenMissing::kPortDecides};
// SHA-256 fingerprints of certificates the user trusts, separated by blanks.
inline constexpr TextValue kInTrusted{kProgramKey, "InTrusted", ""};
inline constexpr TextValue kOutTrusted{kProgramKey, "OutTrusted", ""};

// ---- the display font, each attribute a value of kBaseFontKey
inline constexpr DwordValue kFontCharSet{kBaseFontKey, "CharSet", 1};
// A toolkit colour: 0x00BBGGRR, or a system colour with bit 31 set (here: window text).
inline constexpr DwordValue kFontColor{kBaseFontKey, "Color",
                                       static_cast<std::int32_t>(0x80000008u)};
inline constexpr DwordValue kFontHeight{kBaseFontKey, "Height", 0, WhenMissing::kFollowsSize};
inline constexpr TextValue kFontName{kBaseFontKey, "Name", "MS Sans Serif"};
inline constexpr DwordValue kFontPitch{kBaseFontKey, "Pitch", 0};  // default, variable, fixed
inline constexpr DwordValue kFontSize{kBaseFontKey, "Size", 8};    // points
// Bold, italic, underline, strike-out: "0" each when not set.
inline constexpr TextValue kFontStyle{kBaseFontKey, "Style", "0000"};

// A row of the table, whatever its type.
struct StoredValue {
  std::string_view key;
  std::string_view name;
  StoredType type = StoredType::kString;
  std::string_view default_text;   // kString
  std::int32_t default_dword = 0;  // kDword
  WhenMissing when_missing = WhenMissing::kDefault;
};

constexpr StoredValue Row(const TextValue& v) {
  return {v.key, v.name, StoredType::kString, v.default_text, 0, v.when_missing};
}
constexpr StoredValue Row(const DwordValue& v) {
  return {v.key, v.name, StoredType::kDword, {}, v.default_dword, v.when_missing};
}

// Every stored value, keys in store order and values in the order they are written.
inline constexpr std::array kStoredValues = {
    Row(kSettings),   Row(kLastFriend),  Row(kInSecurity), Row(kOutSecurity), Row(kInTrusted),
    Row(kOutTrusted), Row(kFontCharSet), Row(kFontColor),  Row(kFontHeight),  Row(kFontName),
    Row(kFontPitch),  Row(kFontSize),    Row(kFontStyle),
};

// The row of key and name (ASCII case ignored, as the store compares them); nullptr when Dovrik
// keeps no such value.
const StoredValue* FindStoredValue(std::string_view key, std::string_view name);

// ---- the lines of kSettings
// Line 4 stands in for the password: written on every save, never read, so none is ever stored.
inline constexpr const char* kNoPasswordLine = "NoMorePass";

struct SettingsLine {
  int number;                    // 1..13
  std::string_view what;         // as the settings window labels it
  std::string_view first_start;  // the line at a first start; a restore sets it too
  bool is_switch;                // "1" ticked, "0" not
  bool kept_on_restore = false;  // ... but leaves this switch as it is
};

inline constexpr int kSettingsLineCount = 13;
inline constexpr std::array<SettingsLine, kSettingsLineCount> kSettingsLines = {{
    {1, "Incoming server", kDefaultServer, false},
    {2, "Incoming port", "pop3", false},
    {3, "User", "User", false},
    {4, "(no password)", kNoPasswordLine, false},
    {5, "Check every", "120", false},
    {6, "Timeout", "20", false},
    {7, "Popup on new message", "1", true},
    {8, "Outcoming server", kDefaultServer, false},
    {9, "Outcoming port", "smtp", false},
    {10, "Auto get message", "1", true, true},
    {11, "Log enabled", "1", true, true},
    {12, "Prompt on exit", "1", true, true},
    {13, "Your e-mail", kDefaultSender, false},
}};

// ---- reading and writing a row (ReadRegString & co with the row's key, name and default)
std::string ReadStored(const TextValue& value);
std::int32_t ReadStored(const DwordValue& value);
void WriteStored(const TextValue& value, std::string_view text);
void WriteStored(const DwordValue& value, std::int32_t number);
// One value of a group written in a single replacement (WriteRegValues, same key).
RegValue StoredRegValue(const TextValue& value, std::string text);
RegValue StoredRegValue(const DwordValue& value, std::int32_t number);

}  // namespace dovrik::stored
