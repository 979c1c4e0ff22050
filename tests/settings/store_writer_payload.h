// The value the writer process stores under a name, so tests can check every byte of it.
#pragma once

#include <string>

namespace dovrik::testing {

inline std::string WriterPayload(const std::string& name, std::size_t bytes) {
  std::string text = name + ":";
  for (std::size_t i = 0; text.size() < bytes; ++i) text.push_back(static_cast<char>('a' + i % 26));
  return text;
}

}  // namespace dovrik::testing
