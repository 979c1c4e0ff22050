// A popup menu that can be kept from popping up by itself on a right click on the tray icon. A
// plain QMenu always pops up; its default item is QMenu::defaultAction().
#pragma once

#include <QMenu>

namespace dovrik {

class TPopupMenu : public QMenu {
  Q_OBJECT
 public:
  explicit TPopupMenu(QWidget* parent = nullptr) : QMenu(parent) {}
  bool AutoPopup() const { return auto_popup_; }
  void SetAutoPopup(bool on) { auto_popup_ = on; }

 private:
  bool auto_popup_ = true;
};

// Whether menu pops up by itself: true for a plain QMenu.
bool MenuAutoPopup(const QMenu* menu);

}  // namespace dovrik
