// The text form of the settings store: keys in brackets, typed values below them.
//
//   Dovrik settings store 1
//
//   [HKEY_CURRENT_USER\Software\Brackwater\Projects\PELLORY]
//   "Settings"="mail.example\r\npop3"
//   "Color"=dword:80000008
//
// Names and string data are quoted; backslash, quote, CR, LF, other control bytes and bytes that
// are not part of valid UTF-8 are escaped (\\ \" \r \n \t \xHH), so a value may hold any byte and
// the file stays line-oriented. Key paths are components joined by single backslashes; they hold no
// control bytes. Names of keys and values compare ASCII-case-insensitively, as in the registry.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dovrik {

inline constexpr std::string_view kRegTextHeader = "Dovrik settings store 1";

enum class RegType : std::uint8_t { kString, kDword };

struct RegValue {
  std::string name;
  RegType type = RegType::kString;
  std::string text;         // kString
  std::uint32_t dword = 0;  // kDword
  bool operator==(const RegValue&) const = default;
};

struct RegKey {
  std::string path;              // full path, hive first: "HKEY_CURRENT_USER\Software\..."
  std::vector<RegValue> values;  // in the order they were first written
};

// Keys ordered so that every key follows its parent (see RegPathLess).
using RegDocument = std::vector<RegKey>;

bool RegNameEqual(std::string_view a, std::string_view b);
// Component-wise, case-insensitive order: a parent sorts right before its subtree.
bool RegPathLess(std::string_view a, std::string_view b);
// True when the path has at least one component, no empty component and no control byte.
bool IsValidRegPath(std::string_view path);

// The whole store; nullopt when any line is malformed. An empty text is an empty store.
std::optional<RegDocument> ParseRegText(std::string_view text);
// Canonical text of a document; ParseRegText(FormatRegText(d)) gives d back (sorted, merged).
std::string FormatRegText(const RegDocument& doc);
// A name or string in quotes, escaped as the store writes it.
std::string QuoteRegText(std::string_view text);

// A single look-up that scans the text without building the document.
enum class RegLookup : std::uint8_t { kCorrupt, kNoKey, kNoValue, kFound };
RegLookup FindRegValue(std::string_view text, std::string_view key_path, std::string_view name,
                       RegValue& out);

// Document edits. FindOrAddRegKey also adds the missing ancestors below the hive.
RegKey* FindRegKey(RegDocument& doc, std::string_view path);
bool RegKeyExists(const RegDocument& doc, std::string_view path);  // listed or has a listed child
RegKey& FindOrAddRegKey(RegDocument& doc, std::string_view path);
void SetRegValue(RegKey& key, RegValue value);

}  // namespace dovrik
