// The per-user file that takes the registry's place. Readers open the file without a lock: every
// writer replaces it whole by rename, so a reader sees one complete version. Writers serialise on
// an advisory lock, re-read under it and write a temporary file that is flushed to disk before the
// rename, so neither a crash nor a second process leaves a torn file or loses a value.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "settings/registry_text.h"

namespace dovrik {

class RegistryStore {
 public:
  // The store of the current user: $XDG_CONFIG_HOME/dovrik/registry.reg, with ~/.config when the
  // variable is unset or not absolute. Evaluated on each call, so tests can point it elsewhere.
  static RegistryStore ForCurrentUser();

  explicit RegistryStore(std::string file_path);

  const std::string& FilePath() const { return path_; }

  // One value. A missing, unreadable or unparsable file reads as an empty store.
  RegLookup Find(std::string_view key_path, std::string_view name, RegValue& out) const;
  // The whole store, for tests and tools; empty when missing or unparsable.
  RegDocument ReadAll() const;
  // The same for a tool that must tell a broken store from an empty one: nullopt when the file is
  // there but cannot be read or parsed; a missing file is an empty store.
  std::optional<RegDocument> TryReadAll() const;

  enum class WriteResult {
    kWritten,
    kUnchanged,     // the edit left the file as it was; nothing was rewritten
    kCannotAccess,  // the store could not be opened or created; nothing was written
    kFailed,        // the new file could not be stored (disk full, I/O error); see error_number
  };
  // Locks, re-reads, applies edit to the current document and replaces the file. An unparsable
  // file is first kept aside as <file>.corrupt-N and the edit applies to an empty store.
  WriteResult Update(const std::function<void(RegDocument&)>& edit, int* error_number = nullptr);

 private:
  std::string path_;
};

}  // namespace dovrik
