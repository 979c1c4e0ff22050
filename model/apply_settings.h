// Copies the settings into the mail engine. Main thread (the engine's setters belong to it).
#pragma once

#include "model/settings_text.h"
#include "settings/security_settings.h"

namespace dovrik {

class TQuorrel;

// In this order: user name, incoming server and port, outgoing server and port (texts unchanged),
// then the check interval (unreadable: 240) and the time-out (unreadable: 20). The engine raises
// both to at least 10; values.check_every and values.timeout are rewritten with the numbers in
// force, so the user sees them. Returns true when the user name or either server or port differs
// from what the engine held: a password given for the old ones must not reach the new ones.
bool ApplySettingsToEngine(SettingsValues& values, TQuorrel& engine);

// Each server's encryption choice and trusted certificates. Returns true when either server's
// choice differs from what the engine held: the password would travel another way.
bool ApplySecurityToEngine(const ServerSecurity& security, TQuorrel& engine);

}  // namespace dovrik
