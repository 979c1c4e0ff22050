#include "model/stored_settings.h"

#include <string_view>

#include "settings/registry.h"
#include "settings/stored_values.h"

namespace dovrik {
namespace {

// The settings text and the encryption values share one key; that is what lets a save be a
// single replacement of the store.
static_assert(stored::kSettings.key == std::string_view(kSecurityKey));

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

// The rows SaveServerSecurity writes, here joined to the settings text so that a save stays one
// replacement of the store. In the order they were always written, so a fresh store lays them out
// as before.
std::vector<RegValue> SecurityValues(const ServerSecurity& security) {
  return {stored::StoredRegValue(stored::kInSecurity, SecurityText(security.In)),
          stored::StoredRegValue(stored::kOutSecurity, SecurityText(security.Out)),
          stored::StoredRegValue(stored::kInTrusted, JoinFingerprints(security.InTrusted)),
          stored::StoredRegValue(stored::kOutTrusted, JoinFingerprints(security.OutTrusted))};
}

}  // namespace

StoredSettingsValue StoredSettings::load(const SettingsValues& current) const {
  StoredSettingsValue stored;
  stored.values = current;
  ResetToDefaults(stored.values);
  std::string text;
  try {
    text = stored::ReadStored(stored::kSettings);
  } catch (const ERegistryException& error) {
    stored.read_error = error.what();
  }
  stored.found = ParseSettingsText(text, stored.values);
  stored.security = LoadServerSecurity(stored.values.incoming_port, stored.values.outgoing_port);
  return stored;
}

void StoredSettings::save(const SettingsValues& values, const ServerSecurity& security) const {
  std::vector<RegValue> all{stored::StoredRegValue(stored::kSettings, BuildSettingsText(values))};
  for (RegValue& v : SecurityValues(security)) all.push_back(std::move(v));
  WriteRegValues(stored::kProgramKey, std::move(all));
}

void StoredSettings::saveTrusted(const std::vector<std::string>& incoming,
                                 const std::vector<std::string>& outgoing) const {
  ServerSecurity stored;
  try {
    SettingsValues ports;
    ResetToDefaults(ports);
    ParseSettingsText(stored::ReadStored(stored::kSettings), ports);
    stored = LoadServerSecurity(ports.incoming_port, ports.outgoing_port);
  } catch (const ERegistryException&) {
    stored = LoadServerSecurity("", "");  // the unreadable text is reported when it is loaded
  }
  stored.InTrusted = incoming;
  stored.OutTrusted = outgoing;
  SaveServerSecurity(stored);
}

std::string StoredSettings::lastRecipient() const {
  return stored::ReadStored(stored::kLastFriend);
}

void StoredSettings::setLastRecipient(std::string_view recipient) const {
  stored::WriteStored(stored::kLastFriend, recipient);
}

}  // namespace dovrik
