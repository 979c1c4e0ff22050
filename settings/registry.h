// The registry routines: every value Dovrik keeps between runs is a string or a 32-bit integer
// under RegistryBaseKey + a key name, in the store of RegistryStore::ForCurrentUser().
//
// Reads give the caller's default when the key or the value is missing, and create nothing.
// Writes create the key with all its parents. A store that cannot be opened or created is not
// reported: reads give the default, writes store nothing. A value of the other type on a read, or
// a store that fails to keep a value it could open, raises ERegistryException.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "settings/registry_exception.h"
#include "settings/registry_store.h"
#include "settings/registry_text.h"

namespace dovrik {

using RegistryHive = std::uint32_t;
inline constexpr RegistryHive kHkeyClassesRoot = 0x80000000;
inline constexpr RegistryHive kHkeyCurrentUser = 0x80000001;
inline constexpr RegistryHive kHkeyLocalMachine = 0x80000002;
inline constexpr RegistryHive kHkeyUsers = 0x80000003;
inline constexpr RegistryHive kHkeyCurrentConfig = 0x80000005;

// Where every call reads and writes. The program never changes them; they are used from the
// user-interface thread only.
// NOLINTBEGIN(readability-identifier-naming)
extern RegistryHive RegistryRoot;    // kHkeyCurrentUser
extern std::string RegistryBaseKey;  // "Software\Brackwater\Projects\" (trailing backslash)
// NOLINTEND(readability-identifier-naming)

// The hive's name as written in the store ("HKEY_CURRENT_USER"), or empty for an unknown handle.
std::string_view RegistryHiveName(RegistryHive hive);
// The store path of RegistryBaseKey + key_name under RegistryRoot, with no separator inserted
// between the two; empty when no key can have that name (unknown hive, control bytes).
std::string RegistryKeyPath(std::string_view key_name);

std::string ReadRegString(std::string_view key_name, std::string_view value_name,
                          std::string_view default_value);
void WriteRegString(std::string_view key_name, std::string_view value_name, std::string_view value);
std::int32_t ReadRegInteger(std::string_view key_name, std::string_view value_name,
                            std::int32_t default_value);
void WriteRegInteger(std::string_view key_name, std::string_view value_name, std::int32_t value);

// Several values under one key in a single replacement of the store, in the given order: after a
// crash or a failure the store holds all of them or none. Same failure rules as the writes above.
void WriteRegValues(std::string_view key_name, std::vector<RegValue> values);
// The same write for a caller that must tell every outcome (a command-line tool): it throws
// nothing and reports a store it cannot open or create (kCannotAccess, also for a key name no key
// can have) apart from one that failed to keep the values (kFailed, errno in *error_number).
RegistryStore::WriteResult StoreRegValues(std::string_view key_name, std::vector<RegValue> values,
                                          int* error_number);

}  // namespace dovrik
