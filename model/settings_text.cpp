#include "model/settings_text.h"

#include <array>

#include "engine/text_lines.h"
#include "model/registry_layout.h"

namespace dovrik {

void ResetToDefaults(SettingsValues& values) {
  values.incomingServer = kDefaultServer;
  values.incomingPort = "pop3";
  values.userName = "User";
  values.checkEvery = "120";
  values.timeout = "20";
  values.popupOnNewMessage = true;
  values.outgoingServer = kDefaultServer;
  values.outgoingPort = "smtp";
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
  text_line(1, values.incomingServer);
  text_line(2, values.incomingPort);
  text_line(3, values.userName);
  text_line(5, values.checkEvery);
  text_line(6, values.timeout);
  check_line(7, values.popupOnNewMessage);
  text_line(8, values.outgoingServer);
  text_line(9, values.outgoingPort);
  check_line(10, values.autoGetMessage);
  check_line(11, values.logEnabled);
  check_line(12, values.promptOnExit);
  text_line(13, values.sender);
  return !lines.empty();
}

std::string BuildSettingsText(const SettingsValues& values) {
  const std::array<std::string, 13> lines = {
      values.incomingServer,
      values.incomingPort,
      values.userName,
      kNoPasswordLine,
      values.checkEvery,
      values.timeout,
      std::string(1, CheckToChar(values.popupOnNewMessage)),
      values.outgoingServer,
      values.outgoingPort,
      std::string(1, CheckToChar(values.autoGetMessage)),
      std::string(1, CheckToChar(values.logEnabled)),
      std::string(1, CheckToChar(values.promptOnExit)),
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
