// The application's icon and the new-mail icon, for the tray and the windows.
#pragma once

#include <QIcon>

namespace dovrik {

QIcon ApplicationIcon();
QIcon NewMailIcon();

}  // namespace dovrik
