#include "tools/store/store_tool.h"

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <ostream>
#include <string_view>

#include "settings/registry.h"
#include "settings/stored_values.h"

namespace dovrik::store_tool {
namespace {

using stored::StoredType;
using stored::StoredValue;
using stored::WhenMissing;

constexpr const char* kUsage =
    "usage: dovrik-store get KEY NAME\n"
    "       dovrik-store set KEY NAME TEXT\n"
    "       dovrik-store set --dword KEY NAME NUMBER\n"
    "       dovrik-store set-settings LINE1 ... LINE13\n"
    "       dovrik-store dump\n";

int Fail(std::ostream& err, int code, const std::string& message) {
  err << "dovrik-store: " << message << '\n';
  return code;
}

int Usage(std::ostream& err) {
  err << kUsage;
  return kExitUsage;
}

std::string Describe(std::string_view key, std::string_view name) {
  return std::string(key) + " \"" + std::string(name) + "\"";
}

const char* TypeName(StoredType type) {
  return type == StoredType::kString ? "a string" : "a dword";
}

std::string ErrorText(int error_number) {
  return error_number != 0 ? std::string(": ") + std::strerror(error_number) : std::string();
}

// The row named on the command line; nullptr after saying why.
const StoredValue* FindRow(const std::string& key, const std::string& name, std::ostream& err) {
  const StoredValue* row = stored::FindStoredValue(key, name);
  if (row == nullptr) Fail(err, kExitUsage, Describe(key, name) + " is not a value Dovrik keeps");
  return row;
}

// Decimal from -2^31 to 2^32 - 1 (so both readings of a colour are accepted), or 0x and 1 to 8
// hexadecimal digits.
std::optional<std::uint32_t> ParseDword(std::string_view text) {
  if (text.starts_with("0x") || text.starts_with("0X")) {
    text.remove_prefix(2);
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (text.empty() || text.size() > 8 || error != std::errc() ||
        end != text.data() + text.size()) {
      return std::nullopt;
    }
    return value;
  }
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
      value < INT32_MIN || value > UINT32_MAX) {
    return std::nullopt;
  }
  return static_cast<std::uint32_t>(value);
}

// A value in the store's own notation: a quoted string or dword:xxxxxxxx.
std::string Notation(const RegValue& value) {
  if (value.type == RegType::kString) return QuoteRegText(value.text);
  char hex[16];
  std::snprintf(hex, sizeof hex, "%08x", static_cast<unsigned>(value.dword));
  return std::string("dword:") + hex;
}

std::optional<RegDocument> ReadStore(std::ostream& err) {
  const RegistryStore store = RegistryStore::ForCurrentUser();
  std::optional<RegDocument> doc = store.TryReadAll();
  if (!doc) {
    Fail(err, kExitStore, store.FilePath() + " cannot be read or is not a settings store");
  }
  return doc;
}

const RegValue* FindValue(RegDocument& doc, const StoredValue& row) {
  const std::string path = RegistryKeyPath(row.key);
  const RegKey* key = path.empty() ? nullptr : FindRegKey(doc, path);
  if (key == nullptr) return nullptr;
  for (const RegValue& value : key->values) {
    if (RegNameEqual(value.name, row.name)) return &value;
  }
  return nullptr;
}

int Write(const StoredValue& row, RegValue value, std::ostream& err) {
  int error = 0;
  switch (StoreRegValues(row.key, {std::move(value)}, &error)) {
    case RegistryStore::WriteResult::kWritten:
    case RegistryStore::WriteResult::kUnchanged:
      return kExitOk;
    case RegistryStore::WriteResult::kCannotAccess:
      return Fail(err, kExitStore,
                  RegistryStore::ForCurrentUser().FilePath() + " cannot be opened or created" +
                      ErrorText(error));
    case RegistryStore::WriteResult::kFailed:
      break;
  }
  return Fail(err, kExitStore,
              Describe(row.key, row.name) + " could not be stored" + ErrorText(error));
}

int Get(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.size() != 3) return Usage(err);
  const StoredValue* row = FindRow(args[1], args[2], err);
  if (row == nullptr) return kExitUsage;
  std::optional<RegDocument> doc = ReadStore(err);
  if (!doc) return kExitStore;
  const RegValue* value = FindValue(*doc, *row);
  if (value == nullptr)
    return Fail(err, kExitNotStored, Describe(row->key, row->name) + " is not stored");
  const StoredType type =
      value->type == RegType::kString ? StoredType::kString : StoredType::kDword;
  if (type != row->type) {
    return Fail(err, kExitWrongType,
                Describe(row->key, row->name) + " is stored as " + TypeName(type) + ", not " +
                    TypeName(row->type));
  }
  if (type == StoredType::kString) {
    out << value->text << '\n';
  } else {
    out << static_cast<std::int32_t>(value->dword) << '\n';
  }
  return kExitOk;
}

int Set(const std::vector<std::string>& args, std::ostream& err) {
  const bool dword = args.size() > 1 && args[1] == "--dword";
  const std::size_t first = dword ? 2 : 1;
  if (args.size() != first + 3) return Usage(err);
  const StoredValue* row = FindRow(args[first], args[first + 1], err);
  if (row == nullptr) return kExitUsage;
  const StoredType wanted = dword ? StoredType::kDword : StoredType::kString;
  if (row->type != wanted) {
    return Fail(err, kExitUsage,
                Describe(row->key, row->name) + " is " + TypeName(row->type) +
                    (dword ? ": leave out --dword" : ": give --dword"));
  }
  const std::string& text = args[first + 2];
  RegValue value{std::string(row->name), RegType::kString, {}, 0};
  if (dword) {
    const std::optional<std::uint32_t> number = ParseDword(text);
    if (!number) return Fail(err, kExitUsage, "\"" + text + "\" is not a 32-bit number");
    value.type = RegType::kDword;
    value.dword = *number;
  } else {
    value.text = text;
  }
  return Write(*row, std::move(value), err);
}

int SetSettings(const std::vector<std::string>& args, std::ostream& err) {
  if (args.size() != 1 + stored::kSettingsLineCount) return Usage(err);
  std::string text;
  for (int number = 1; number <= stored::kSettingsLineCount; ++number) {
    const std::string& line = args[static_cast<std::size_t>(number)];
    if (line.find_first_of("\r\n") != std::string::npos) {
      return Fail(err, kExitUsage, "line " + std::to_string(number) + " holds a line end");
    }
    if (number == 4 && line != stored::kNoPasswordLine) {
      return Fail(err, kExitUsage,
                  std::string("line 4 must be ") + stored::kNoPasswordLine +
                      ": no password is ever stored");
    }
    if (number > 1) text += "\r\n";
    text += line;
  }
  static constexpr StoredValue kRow = stored::Row(stored::kSettings);
  return Write(kRow, stored::StoredRegValue(stored::kSettings, std::move(text)), err);
}

std::string MissingText(const StoredValue& row) {
  switch (row.when_missing) {
    case WhenMissing::kDefault:
      return row.type == StoredType::kString
                 ? QuoteRegText(row.default_text)
                 : Notation(RegValue{
                       {}, RegType::kDword, {}, static_cast<std::uint32_t>(row.default_dword)});
    case WhenMissing::kFirstStart:
      return "(a first start)";
    case WhenMissing::kPortDecides:
      return "(the port decides)";
    case WhenMissing::kFollowsSize:
      return "(follows the size)";
  }
  return {};
}

int Dump(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.size() != 1) return Usage(err);
  std::optional<RegDocument> doc = ReadStore(err);
  if (!doc) return kExitStore;
  for (const StoredValue& row : stored::kStoredValues) {
    out << row.key << '\t' << QuoteRegText(row.name) << '\t';
    const RegValue* value = FindValue(*doc, row);
    const bool right_type =
        value != nullptr && (value->type == RegType::kString) == (row.type == StoredType::kString);
    if (value == nullptr) {
      out << "missing\t" << MissingText(row) << '\n';
    } else {
      out << (right_type ? "stored\t" : "wrong-type\t") << Notation(*value) << '\n';
    }
  }
  // What else the store holds: under the program's base key by the key's name, else by its path.
  const std::string base = RegistryKeyPath("");
  for (const RegKey& key : *doc) {
    std::string_view name = key.path;
    if (!base.empty() && name.size() > base.size() && name[base.size()] == '\\' &&
        RegNameEqual(name.substr(0, base.size()), base)) {
      name.remove_prefix(base.size() + 1);
    }
    for (const RegValue& value : key.values) {
      if (stored::FindStoredValue(name, value.name) != nullptr) continue;
      out << name << '\t' << QuoteRegText(value.name) << "\tunknown\t" << Notation(value) << '\n';
    }
  }
  return kExitOk;
}

}  // namespace

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty()) return Usage(err);
  const std::string& command = args[0];
  if (command == "get") return Get(args, out, err);
  if (command == "set") return Set(args, err);
  if (command == "set-settings") return SetSettings(args, err);
  if (command == "dump") return Dump(args, out, err);
  return Usage(err);
}

}  // namespace dovrik::store_tool
