#include "settings/registry.h"

#include <cstring>

#include "settings/registry_store.h"

namespace dovrik {

RegistryHive RegistryRoot = kHkeyCurrentUser;
std::string RegistryBaseKey = "Software\\Brackwater\\Projects\\";

namespace {

RegValue ReadValue(std::string_view key_name, std::string_view value_name, bool& found) {
  RegValue value;
  found = false;
  const std::string path = RegistryKeyPath(key_name);
  if (path.empty()) return value;
  found = RegistryStore::ForCurrentUser().Find(path, value_name, value) == RegLookup::kFound;
  return value;
}

[[noreturn]] void ThrowWrongType(std::string_view key_name, std::string_view value_name,
                                 const char* expected) {
  throw ERegistryException("Value \"" + std::string(value_name) + "\" under key \"" +
                           RegistryBaseKey + std::string(key_name) + "\" is not " + expected);
}

void WriteValues(std::string_view key_name, std::vector<RegValue> values) {
  int error = 0;
  // A key no key can have is refused like a store that cannot be opened: nothing is written.
  if (StoreRegValues(key_name, values, &error) == RegistryStore::WriteResult::kFailed) {
    std::string names;
    for (const RegValue& value : values)
      names += (names.empty() ? "\"" : ", \"") + value.name + "\"";
    throw ERegistryException("Failed to store " + names + " under key \"" + RegistryBaseKey +
                             std::string(key_name) + "\": " + std::strerror(error));
  }
}

}  // namespace

std::string_view RegistryHiveName(RegistryHive hive) {
  switch (hive) {
    case kHkeyClassesRoot:
      return "HKEY_CLASSES_ROOT";
    case kHkeyCurrentUser:
      return "HKEY_CURRENT_USER";
    case kHkeyLocalMachine:
      return "HKEY_LOCAL_MACHINE";
    case kHkeyUsers:
      return "HKEY_USERS";
    case kHkeyCurrentConfig:
      return "HKEY_CURRENT_CONFIG";
    default:
      return {};
  }
}

std::string RegistryKeyPath(std::string_view key_name) {
  const std::string_view hive = RegistryHiveName(RegistryRoot);
  if (hive.empty()) return {};
  std::string path(hive);
  // Empty components (a doubled or trailing backslash) are skipped, as the registry does.
  const std::string relative = RegistryBaseKey + std::string(key_name);
  std::size_t start = 0;
  while (start <= relative.size()) {
    std::size_t end = relative.find('\\', start);
    if (end == std::string::npos) end = relative.size();
    if (end > start) {
      path += '\\';
      path.append(relative, start, end - start);
    }
    start = end + 1;
  }
  return IsValidRegPath(path) ? path : std::string();
}

std::string ReadRegString(std::string_view key_name, std::string_view value_name,
                          std::string_view default_value) {
  bool found;
  RegValue value = ReadValue(key_name, value_name, found);
  if (!found) return std::string(default_value);
  if (value.type != RegType::kString) ThrowWrongType(key_name, value_name, "a string");
  return std::move(value.text);
}

void WriteRegString(std::string_view key_name, std::string_view value_name,
                    std::string_view value) {
  WriteValues(key_name,
              {RegValue{std::string(value_name), RegType::kString, std::string(value), 0}});
}

std::int32_t ReadRegInteger(std::string_view key_name, std::string_view value_name,
                            std::int32_t default_value) {
  bool found;
  const RegValue value = ReadValue(key_name, value_name, found);
  if (!found) return default_value;
  if (value.type != RegType::kDword) ThrowWrongType(key_name, value_name, "an integer");
  return static_cast<std::int32_t>(value.dword);
}

void WriteRegInteger(std::string_view key_name, std::string_view value_name, std::int32_t value) {
  WriteValues(
      key_name,
      {RegValue{std::string(value_name), RegType::kDword, {}, static_cast<std::uint32_t>(value)}});
}

void WriteRegValues(std::string_view key_name, std::vector<RegValue> values) {
  WriteValues(key_name, std::move(values));
}

RegistryStore::WriteResult StoreRegValues(std::string_view key_name, std::vector<RegValue> values,
                                          int* error_number) {
  if (error_number != nullptr) *error_number = 0;
  const std::string path = RegistryKeyPath(key_name);
  if (path.empty()) return RegistryStore::WriteResult::kCannotAccess;
  return RegistryStore::ForCurrentUser().Update(
      [&](RegDocument& doc) {
        RegKey& key = FindOrAddRegKey(doc, path);
        for (RegValue& value : values) SetRegValue(key, std::move(value));
      },
      error_number);
}

}  // namespace dovrik
