// The application icon and the new-mail icon, drawn from the SVGs in ui/icons/ (built into the
// program) at the sizes trays and window lists ask for. Needs a QGuiApplication; main thread.
#pragma once

#include <QIcon>

namespace dovrik {

// Pixel sizes each icon holds a rendering for.
inline constexpr int kIconSizes[] = {16, 22, 24, 32, 48, 64};

QIcon ApplicationIcon();  // an envelope
QIcon NewMailIcon();      // a yellow envelope with a red dot: mail waits

}  // namespace dovrik
