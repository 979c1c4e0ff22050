#include "settings/security_settings.h"

#include "engine/protocols.h"
#include "platform/trim.h"
#include "settings/registry.h"
#include "settings/stored_values.h"

namespace dovrik {
namespace {

using platform::LowerTrimmed;

std::vector<std::string> SplitFingerprints(std::string_view text) {
  std::vector<std::string> out;
  std::string word;
  for (char c : text) {
    if (platform::IsBlankOrControl(c) || c == ',' || c == ';') {
      if (!word.empty()) out.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) out.push_back(word);
  return out;
}

// A value stored with the other type reads as missing: the port decides then.
std::string ReadText(const stored::TextValue& value) {
  try {
    return stored::ReadStored(value);
  } catch (const ERegistryException&) {
    return std::string(value.default_text);
  }
}

}  // namespace

std::string JoinFingerprints(const std::vector<std::string>& list) {
  std::string out;
  for (const auto& f : list) {
    if (f.empty()) continue;
    if (!out.empty()) out += ' ';
    out += f;
  }
  return out;
}

std::optional<SecurityMode> SecurityFromText(std::string_view aText) {
  const std::string t = LowerTrimmed(aText);
  if (t == "none") return SecurityMode::kNone;
  if (t == "starttls") return SecurityMode::kStartTls;
  if (t == "tls") return SecurityMode::kTls;
  return std::nullopt;
}

std::string SecurityText(SecurityMode aMode) {
  switch (aMode) {
    case SecurityMode::kStartTls:
      return "starttls";
    case SecurityMode::kTls:
      return "tls";
    case SecurityMode::kNone:
      break;
  }
  return "none";
}

// Both follow the engine's table of protocols.
SecurityMode SecurityForPort(std::string_view aPort) {
  return ImpliedSecurity(aPort);
}

std::string UsualPort(SecurityMode aMode, bool anIncoming) {
  return DefaultPort(aMode, anIncoming);
}

ServerSecurity LoadServerSecurity(std::string_view anInPort, std::string_view anOutPort) {
  ServerSecurity s;
  s.In = SecurityFromText(ReadText(stored::kInSecurity)).value_or(SecurityForPort(anInPort));
  s.Out = SecurityFromText(ReadText(stored::kOutSecurity)).value_or(SecurityForPort(anOutPort));
  s.InTrusted = SplitFingerprints(ReadText(stored::kInTrusted));
  s.OutTrusted = SplitFingerprints(ReadText(stored::kOutTrusted));
  return s;
}

std::vector<RegValue> SecurityValues(const ServerSecurity& aSecurity) {
  using stored::StoredRegValue;
  return {StoredRegValue(stored::kInSecurity, SecurityText(aSecurity.In)),
          StoredRegValue(stored::kOutSecurity, SecurityText(aSecurity.Out)),
          StoredRegValue(stored::kInTrusted, JoinFingerprints(aSecurity.InTrusted)),
          StoredRegValue(stored::kOutTrusted, JoinFingerprints(aSecurity.OutTrusted))};
}

void SaveServerSecurity(const ServerSecurity& aSecurity) {
  // The four rows share the program's key, so one replacement of the store holds them all.
  WriteRegValues(stored::kProgramKey, SecurityValues(aSecurity));
}

}  // namespace dovrik
