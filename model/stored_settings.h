// Everything the desktop half keeps in the settings store, behind one class: the settings
// window's text and each server's encryption choice and trusted certificates, and the last
// recipient of a new message. The windows hold plain values and never name a store key; this is
// the one place that knows where those values live and in what form.
//
// Stateless: every call reads or writes the current user's store at once. Main thread only, like
// the store routines beneath it. Reads of a value the store cannot read, and failing writes, raise
// ERegistryException unless a method says otherwise.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "model/settings_text.h"
#include "settings/security_settings.h"

namespace dovrik {

struct StoredSettingsValue {
  SettingsValues values;
  ServerSecurity security;
  bool found = false;      // a non-empty settings text was stored
  std::string read_error;  // why the stored text could not be read; the defaults stand then
};

class StoredSettings {
 public:
  // The defaults (over current: the last three switches keep their state there), the stored text
  // over them, then each server's stored choice (missing: as its port implies) and trusted
  // certificates. A text the store cannot read is reported in read_error, not raised.
  StoredSettingsValue load(const SettingsValues& current) const;

  // The text as typed and the four encryption values, in one replacement of the store: after a
  // failure the store holds all the old values or all the new ones.
  void save(const SettingsValues& values, const ServerSecurity& security) const;

  // Remembers the trusted certificates of both servers beside the choices as they are stored (a
  // choice changed in a window but not saved stays unsaved); the settings text is left as it is.
  void saveTrusted(const std::vector<std::string>& incoming,
                   const std::vector<std::string>& outgoing) const;

  // The recipient proposed for a new message: the last one sent to, else a reserved address.
  std::string lastRecipient() const;
  void setLastRecipient(std::string_view recipient) const;
};

}  // namespace dovrik
