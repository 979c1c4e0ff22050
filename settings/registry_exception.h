// The error raised by the registry routines when a stored value has the wrong type or a value
// cannot be stored once its key is open.
#pragma once

#include <stdexcept>
#include <string>

namespace dovrik {

class ERegistryException : public std::runtime_error {
 public:
  explicit ERegistryException(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace dovrik
