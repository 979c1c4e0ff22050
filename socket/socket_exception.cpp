#include "socket/socket_exception.h"

#include "platform/socket_errors.h"

namespace dovrik {

std::string SocketErrorText(int code) {
  return platform::SocketErrorText(code);
}

std::string Format(const std::string& fmt, const std::vector<TFormatArg>& args) {
  std::string out;
  std::size_t next = 0;
  for (std::size_t i = 0; i < fmt.size(); ++i) {
    char c = fmt[i];
    if (c != '%' || i + 1 >= fmt.size()) {
      out += c;
      continue;
    }
    char spec = fmt[++i];
    if (spec == '%') {
      out += '%';
    } else if (spec == 'd' || spec == 's') {
      if (next >= args.size())
        throw ESocketException("Format '" + fmt + "' invalid or incompatible with argument");
      const TFormatArg& a = args[next++];
      if (spec == 'd' && std::holds_alternative<int>(a))
        out += std::to_string(std::get<int>(a));
      else if (spec == 's' && std::holds_alternative<std::string>(a))
        out += std::get<std::string>(a);
      else
        throw ESocketException("Format '" + fmt + "' invalid or incompatible with argument");
    } else {
      out += '%';
      out += spec;
    }
  }
  return out;
}

}  // namespace dovrik
