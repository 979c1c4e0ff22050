// dovrik-store: reads and writes the values of the settings store from a shell, through the
// program's own table and routines, so a script never writes the store's format by hand.
//
//   dovrik-store get KEY NAME                 the value, a string as stored or a dword in decimal,
//                                             and a line end
//   dovrik-store set KEY NAME TEXT            a string value
//   dovrik-store set --dword KEY NAME NUMBER  a dword: decimal (-2147483648..4294967295) or 0x hex
//   dovrik-store set-settings LINE1 .. LINE13 the 13-line "Settings" text; line 4 is "NoMorePass"
//   dovrik-store dump                         every value Dovrik keeps, one line each:
//                                             KEY TAB NAME TAB stored|missing|wrong-type TAB value
//                                             (in the store's notation, a default, or the rule
//                                             that decides); then values Dovrik does not know,
//                                             marked "unknown"
//
// KEY and NAME are those of settings/stored_values.h (case ignored), e.g. PELLORY Settings or
// 'PELLORY\BaseFont' Size; anything else is refused. The store is the program's own:
// $XDG_CONFIG_HOME/dovrik/registry.reg (~/.config without the variable), written the same atomic
// way. Messages go to standard error, starting "dovrik-store: ".
//
// Runs on the calling thread; one command per call.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace dovrik::store_tool {

inline constexpr int kExitOk = 0;
inline constexpr int kExitNotStored = 1;  // get: the value is not in the store
inline constexpr int kExitUsage = 2;      // bad arguments, a value Dovrik does not keep, wrong type
inline constexpr int kExitStore = 3;      // the store cannot be read, parsed, opened or written
inline constexpr int kExitWrongType = 4;  // get: the store holds the value with the other type

// args: the command line without the program's name.
int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace dovrik::store_tool
