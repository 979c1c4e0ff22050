#include "model/settings_text.h"

#include <array>

#include "engine/text_lines.h"
#include "model/registry_layout.h"

namespace dovrik {

void ResetToDefaults(SettingsValues& values) {
  values.incoming_server = kDefaultServer;
  values.incoming_port = "pop3";
  values.user_name = "User";
  values.check_every = "120";
  values.timeout = "20";
  values.popup_on_new_message = true;
  values.outgoing_server = kDefaultServer;
  values.outgoing_port = "smtp";
  values.sender = kDefaultSender;
}

char CheckToChar(bool checked) {
  return checked ? '1' : '0';
}

bool CharToCheck(std::string_view line) {
  return !line.empty() && line.front() == '1';
}

bool ParseSettingsText(std::string_view text, SettingsValues& values) {
  const std::vector<std::string_view> lines = SplitLines(text);
  auto text_line = [&](std::size_t number, std::string& field) {
    if (lines.size() >= number) field = lines[number - 1];
  };
  auto check_line = [&](std::size_t number, bool& field) {
    if (lines.size() >= number) field = CharToCheck(lines[number - 1]);
  };
  text_line(1, values.incoming_server);
  text_line(2, values.incoming_port);
  text_line(3, values.user_name);
  text_line(5, values.check_every);
  text_line(6, values.timeout);
  check_line(7, values.popup_on_new_message);
  text_line(8, values.outgoing_server);
  text_line(9, values.outgoing_port);
  check_line(10, values.auto_get_message);
  check_line(11, values.log_enabled);
  check_line(12, values.prompt_on_exit);
  text_line(13, values.sender);
  return !lines.empty();
}

std::string BuildSettingsText(const SettingsValues& values) {
  const std::array<std::string, 13> lines = {
      values.incoming_server,
      values.incoming_port,
      values.user_name,
      kNoPasswordLine,
      values.check_every,
      values.timeout,
      std::string(1, CheckToChar(values.popup_on_new_message)),
      values.outgoing_server,
      values.outgoing_port,
      std::string(1, CheckToChar(values.auto_get_message)),
      std::string(1, CheckToChar(values.log_enabled)),
      std::string(1, CheckToChar(values.prompt_on_exit)),
      values.sender,
  };
  std::string text;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) text += "\r\n";
    text += lines[i];
  }
  return text;
}

}  // namespace dovrik
