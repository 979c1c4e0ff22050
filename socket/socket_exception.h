// The socket layer's exception, the error-description table and message formatting.
#pragma once

#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace dovrik {

class ESocketException : public std::runtime_error {
 public:
  explicit ESocketException(const std::string& msg) : std::runtime_error(msg) {}
  std::string Message() const { return what(); }
};

// The fixed description of a Windows Sockets error number ("Not a WinSock error" if unknown).
std::string SocketErrorText(int code);

// Arguments of a format: %d takes an int, %s a string; %% is a percent sign.
using TFormatArg = std::variant<int, std::string>;
std::string Format(const std::string& fmt, const std::vector<TFormatArg>& args);

}  // namespace dovrik
