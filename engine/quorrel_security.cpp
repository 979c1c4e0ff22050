// The engine's encryption settings. Each session gets a copy, taken under the link's lock when it
// starts.
#include <utility>

#include "engine/quorrel.h"

namespace dovrik {

SecurityMode TQuorrel::InSecurity() const {
  std::lock_guard<std::mutex> guard(FLink->Lock());
  return FInSecurity;
}

void TQuorrel::SetInSecurity(SecurityMode value) {
  std::lock_guard<std::mutex> guard(FLink->Lock());
  FInSecurity = value;
}

SecurityMode TQuorrel::OutSecurity() const {
  std::lock_guard<std::mutex> guard(FLink->Lock());
  return FOutSecurity;
}

void TQuorrel::SetOutSecurity(SecurityMode value) {
  std::lock_guard<std::mutex> guard(FLink->Lock());
  FOutSecurity = value;
}

std::vector<std::string> TQuorrel::InTrusted() const {
  std::lock_guard<std::mutex> guard(FLink->Lock());
  return FInTrusted;
}

void TQuorrel::SetInTrusted(std::vector<std::string> value) {
  std::lock_guard<std::mutex> guard(FLink->Lock());
  FInTrusted = std::move(value);
}

std::vector<std::string> TQuorrel::OutTrusted() const {
  std::lock_guard<std::mutex> guard(FLink->Lock());
  return FOutTrusted;
}

void TQuorrel::SetOutTrusted(std::vector<std::string> value) {
  std::lock_guard<std::mutex> guard(FLink->Lock());
  FOutTrusted = std::move(value);
}

std::string TQuorrel::CaFile() const {
  std::lock_guard<std::mutex> guard(FLink->Lock());
  return FCaFile;
}

void TQuorrel::SetCaFile(const std::string& value) {
  std::lock_guard<std::mutex> guard(FLink->Lock());
  FCaFile = value;
}

}  // namespace dovrik
