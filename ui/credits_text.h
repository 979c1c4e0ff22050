// The credits text that heads the main window's log list.
#pragma once

#include <QStringList>
#include <string_view>

namespace dovrik {

// "Dovrik <version> (<build date as the locale's long date>)", a blank line, thanks, and the
// credits of the socket and tray components. build_date: days since 30 December 1899.
QStringList CreditsText(std::string_view version, double build_date);

}  // namespace dovrik
