// The settings as one text of 13 lines joined by CR LF, the form the registry store keeps them in.
// Pure: no widgets, no store.
//
//   1 incoming server   5 check interval (as typed)   9 outgoing port    13 the user's own address
//   2 incoming port     6 time-out (as typed)        10 auto get message
//   3 user name         7 popup on new message       11 log enabled
//   4 "NoMorePass"      8 outgoing server            12 prompt on exit
//
// Line 4 is written on every save and never read: no password is ever stored.
#pragma once

#include <string>
#include <string_view>

#include "settings/stored_values.h"

namespace dovrik {

struct SettingsValues {
  std::string incoming_server;
  std::string incoming_port;
  std::string user_name;
  std::string check_every;  // kept as typed; the engine decides the value in force
  std::string timeout;
  bool popup_on_new_message = true;
  std::string outgoing_server;
  std::string outgoing_port;
  bool auto_get_message = true;
  bool log_enabled = true;
  bool prompt_on_exit = true;
  std::string sender;
};

using stored::kNoPasswordLine;

// The defaults of a restore: every field but the last three switches, which keep their state.
void ResetToDefaults(SettingsValues& values);

// "1" for a ticked switch, "0" otherwise.
char CheckToChar(bool checked);
// Ticked only when the line's first character is "1" ("10" and "1x" too; an empty line is not).
bool CharToCheck(std::string_view line);

// Lines end at CR LF, a lone CR or a lone LF; a line end at the very end adds no line. Each line
// present overwrites its field (line 4 is skipped, lines past 13 are ignored); fields whose lines
// are missing keep what values held. True when the text held at least one line.
bool ParseSettingsText(std::string_view text, SettingsValues& values);

// The 13 lines joined by CR LF, without a line end after the last.
std::string BuildSettingsText(const SettingsValues& values);

}  // namespace dovrik
