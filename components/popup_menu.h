// A popup menu that can be kept from popping up by itself on a right click on the tray icon. A
// plain QMenu always pops up; its default item is QMenu::defaultAction().
#pragma once

#include <QMenu>

namespace dovrik {

// A fixed surface: it keeps its given names.
// NOLINTBEGIN(readability-identifier-naming)
class TPopupMenu : public QMenu {
  Q_OBJECT
 public:
  explicit TPopupMenu(QWidget* parent = nullptr) : QMenu(parent) {}
  bool AutoPopup() const { return auto_popup_; }
  void SetAutoPopup(bool on) { auto_popup_ = on; }

 private:
  bool auto_popup_ = true;
};
// NOLINTEND(readability-identifier-naming)

// Whether menu pops up by itself: true for a plain QMenu.
bool MenuAutoPopup(const QMenu* menu);

}  // namespace dovrik
