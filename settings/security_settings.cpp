#include "settings/security_settings.h"

#include <cctype>

#include "engine/protocols.h"
#include "settings/registry.h"

namespace dovrik {
namespace {

std::string LowerTrimmed(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::vector<std::string> SplitFingerprints(std::string_view text) {
  std::vector<std::string> out;
  std::string word;
  for (char c : text) {
    if (static_cast<unsigned char>(c) <= ' ' || c == ',' || c == ';') {
      if (!word.empty()) out.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) out.push_back(word);
  return out;
}

std::string JoinFingerprints(const std::vector<std::string>& list) {
  std::string out;
  for (const auto& f : list) {
    if (f.empty()) continue;
    if (!out.empty()) out += ' ';
    out += f;
  }
  return out;
}

// A value stored with the other type reads as missing: the port decides then.
std::string ReadText(const char* name) {
  try {
    return ReadRegString(kSecurityKey, name, "");
  } catch (const ERegistryException&) {
    return {};
  }
}

}  // namespace

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
  s.In = SecurityFromText(ReadText("InSecurity")).value_or(SecurityForPort(anInPort));
  s.Out = SecurityFromText(ReadText("OutSecurity")).value_or(SecurityForPort(anOutPort));
  s.InTrusted = SplitFingerprints(ReadText("InTrusted"));
  s.OutTrusted = SplitFingerprints(ReadText("OutTrusted"));
  return s;
}

void SaveServerSecurity(const ServerSecurity& aSecurity) {
  auto text = [](const char* name, std::string value) {
    RegValue v;
    v.name = name;
    v.type = RegType::kString;
    v.text = std::move(value);
    return v;
  };
  WriteRegValues(kSecurityKey, {text("InSecurity", SecurityText(aSecurity.In)),
                                text("OutSecurity", SecurityText(aSecurity.Out)),
                                text("InTrusted", JoinFingerprints(aSecurity.InTrusted)),
                                text("OutTrusted", JoinFingerprints(aSecurity.OutTrusted))});
}

}  // namespace dovrik
