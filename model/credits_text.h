// The credits text that heads the main window's log list.
#pragma once

#include <QStringList>
#include <string_view>

namespace dovrik {

// "Dovrik <version> (<build date as the locale's long date>)", a blank line, thanks, and the
// credits of the socket and tray components. build_date: UTF-8 text, as the window formats it.
QStringList CreditsText(std::string_view version, std::string_view build_date);

}  // namespace dovrik
