#include "model/stored_settings.h"

#include <string_view>

#include "model/registry_layout.h"
#include "settings/registry.h"

namespace dovrik {
namespace {

// The settings text and the encryption values share one key; that is what lets a save be a
// single replacement of the store.
static_assert(std::string_view(kProgramKey) == kSecurityKey);

RegValue Text(const char* name, std::string value) {
  RegValue v;
  v.name = name;
  v.type = RegType::kString;
  v.text = std::move(value);
  return v;
}

// The store keeps the fingerprints separated by single blanks, empty ones left out.
std::string JoinFingerprints(const std::vector<std::string>& list) {
  std::string out;
  for (const auto& fingerprint : list) {
    if (fingerprint.empty()) continue;
    if (!out.empty()) out += ' ';
    out += fingerprint;
  }
  return out;
}

// In the order they were always written, so a fresh store lays them out as before.
std::vector<RegValue> SecurityValues(const ServerSecurity& security) {
  return {Text("InSecurity", SecurityText(security.In)),
          Text("OutSecurity", SecurityText(security.Out)),
          Text("InTrusted", JoinFingerprints(security.InTrusted)),
          Text("OutTrusted", JoinFingerprints(security.OutTrusted))};
}

}  // namespace

StoredSettingsValue StoredSettings::load(const SettingsValues& current) const {
  StoredSettingsValue stored;
  stored.values = current;
  ResetToDefaults(stored.values);
  std::string text;
  try {
    text = ReadRegString(kProgramKey, kSettingsValue, "");
  } catch (const ERegistryException& error) {
    stored.read_error = error.what();
  }
  stored.found = ParseSettingsText(text, stored.values);
  stored.security = LoadServerSecurity(stored.values.incoming_port, stored.values.outgoing_port);
  return stored;
}

void StoredSettings::save(const SettingsValues& values, const ServerSecurity& security) const {
  std::vector<RegValue> all{Text(kSettingsValue, BuildSettingsText(values))};
  for (RegValue& v : SecurityValues(security)) all.push_back(std::move(v));
  WriteRegValues(kProgramKey, std::move(all));
}

void StoredSettings::saveTrusted(const std::vector<std::string>& incoming,
                                 const std::vector<std::string>& outgoing) const {
  ServerSecurity stored;
  try {
    SettingsValues ports;
    ResetToDefaults(ports);
    ParseSettingsText(ReadRegString(kProgramKey, kSettingsValue, ""), ports);
    stored = LoadServerSecurity(ports.incoming_port, ports.outgoing_port);
  } catch (const ERegistryException&) {
    stored = LoadServerSecurity("", "");  // the unreadable text is reported when it is loaded
  }
  stored.InTrusted = incoming;
  stored.OutTrusted = outgoing;
  WriteRegValues(kSecurityKey, SecurityValues(stored));
}

std::string StoredSettings::lastRecipient() const {
  return ReadRegString(kProgramKey, kLastFriendValue, kDefaultRecipient);
}

void StoredSettings::setLastRecipient(std::string_view recipient) const {
  WriteRegString(kProgramKey, kLastFriendValue, recipient);
}

}  // namespace dovrik
