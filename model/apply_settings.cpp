#include "model/apply_settings.h"

#include "engine/quorrel.h"
#include "engine/str_to_int_def_trim.h"

namespace dovrik {

bool ApplySettingsToEngine(SettingsValues& values, TQuorrel& engine) {
  // Encrypted outgoing mail logs in with the account's password too, so either server counts.
  const bool identity_changed =
      engine.UserName() != values.user_name || engine.InServer() != values.incoming_server ||
      engine.InPort() != values.incoming_port || engine.OutServer() != values.outgoing_server ||
      engine.OutPort() != values.outgoing_port;
  engine.SetUserName(values.user_name);
  engine.SetInServer(values.incoming_server);
  engine.SetInPort(values.incoming_port);
  engine.SetOutServer(values.outgoing_server);
  engine.SetOutPort(values.outgoing_port);
  engine.SetCheckEvery(StrToIntDefTrim(values.check_every, 240));
  values.check_every = std::to_string(engine.CheckEvery());
  engine.SetTimeOut(StrToIntDefTrim(values.timeout, 20));
  values.timeout = std::to_string(engine.TimeOut());
  return identity_changed;
}

bool ApplySecurityToEngine(const ServerSecurity& security, TQuorrel& engine) {
  const bool changed = engine.InSecurity() != security.In || engine.OutSecurity() != security.Out;
  engine.SetInSecurity(security.In);
  engine.SetOutSecurity(security.Out);
  engine.SetInTrusted(security.InTrusted);
  engine.SetOutTrusted(security.OutTrusted);
  return changed;
}

}  // namespace dovrik
