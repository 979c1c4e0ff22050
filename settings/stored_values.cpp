#include "settings/stored_values.h"

#include "settings/registry.h"

namespace dovrik::stored {

const StoredValue* FindStoredValue(std::string_view key, std::string_view name) {
  for (const StoredValue& row : kStoredValues) {
    if (RegNameEqual(row.key, key) && RegNameEqual(row.name, name)) return &row;
  }
  return nullptr;
}

std::string ReadStored(const TextValue& value) {
  return ReadRegString(value.key, value.name, value.default_text);
}

std::int32_t ReadStored(const DwordValue& value) {
  return ReadRegInteger(value.key, value.name, value.default_dword);
}

void WriteStored(const TextValue& value, std::string_view text) {
  WriteRegString(value.key, value.name, text);
}

void WriteStored(const DwordValue& value, std::int32_t number) {
  WriteRegInteger(value.key, value.name, number);
}

RegValue StoredRegValue(const TextValue& value, std::string text) {
  return RegValue{std::string(value.name), RegType::kString, std::move(text), 0};
}

RegValue StoredRegValue(const DwordValue& value, std::int32_t number) {
  return RegValue{std::string(value.name), RegType::kDword, {}, static_cast<std::uint32_t>(number)};
}

}  // namespace dovrik::stored
