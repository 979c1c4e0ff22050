#include "components/popup_menu.h"

namespace dovrik {

bool MenuAutoPopup(const QMenu* menu) {
  const auto* popup = qobject_cast<const TPopupMenu*>(menu);
  return popup == nullptr || popup->AutoPopup();
}

}  // namespace dovrik
