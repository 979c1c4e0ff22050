#include "model/stored_settings.h"

#include <string_view>

#include "settings/registry.h"
#include "settings/stored_values.h"

namespace dovrik {
namespace {

// The settings text and the encryption values share one key; that is what lets a save be a
// single replacement of the store.
static_assert(stored::kSettings.key == std::string_view(kSecurityKey));

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
