#include "model/apply_settings.h"

#include "engine/quorrel.h"
#include "engine/str_to_int_def_trim.h"

namespace dovrik {

bool ApplySettingsToEngine(SettingsValues& values, TQuorrel& engine) {
  const bool identity_changed = engine.UserName() != values.userName ||
                                engine.InServer() != values.incomingServer ||
                                engine.InPort() != values.incomingPort;
  engine.SetUserName(values.userName);
  engine.SetInServer(values.incomingServer);
  engine.SetInPort(values.incomingPort);
  engine.SetOutServer(values.outgoingServer);
  engine.SetOutPort(values.outgoingPort);
  engine.SetCheckEvery(StrToIntDefTrim(values.checkEvery, 240));
  values.checkEvery = std::to_string(engine.CheckEvery());
  engine.SetTimeOut(StrToIntDefTrim(values.timeout, 20));
  values.timeout = std::to_string(engine.TimeOut());
  return identity_changed;
}

bool ApplySecurityToEngine(const ServerSecurity& security, TQuorrel& engine) {
  const bool changed = engine.InSecurity() != security.In;
  engine.SetInSecurity(security.In);
  engine.SetOutSecurity(security.Out);
  engine.SetInTrusted(security.InTrusted);
  engine.SetOutTrusted(security.OutTrusted);
  return changed;
}

}  // namespace dovrik
