#include "components/rx_tray.h"

#include <QAction>
#include <QWidget>
#include <QtGlobal>
#include <algorithm>
#include <exception>

#include "components/popup_menu.h"
#include "components/timer_thread.h"

namespace dovrik {

TRxTray::TRxTray(QObject* owner, std::unique_ptr<TrayAdapter> adapter)
    : QObject(owner),
      adapter_(adapter ? std::move(adapter) : std::make_unique<QtTrayAdapter>()),
      icons_(std::make_unique<TIconList>()) {
  adapter_->OnMouse = [this](TrayMouse what) { HandleMouse(what); };
  icons_->OnChange = [this](TIconList*) { IconChanged(); };
}

TRxTray::~TRxTray() {
  destroying_ = true;
  icons_->OnChange = nullptr;
  SetAnimated(false);
  RemoveFromTray();
  adapter_->OnMouse = nullptr;
  // Join every animation worker, the current and any still ending, before the state goes.
  const auto threads = findChildren<TTimerThread*>(Qt::FindDirectChildrenOnly);
  qDeleteAll(threads);
  thread_ = nullptr;
}

void TRxTray::Loaded() {
  if (active_) AddToTray();
}

void TRxTray::SetActive(bool value) {
  if (value != active_) active_ = value;
  if (value) {
    AddToTray();
  } else {
    RemoveFromTray();
  }
}

void TRxTray::SetHint(const QString& value) {
  if (value == hint_) return;
  hint_ = value;
  RefreshTrayIcon();
}

void TRxTray::SetIcon(const QIcon& value) {
  icon_ = value;
  IconChanged();
}

void TRxTray::SetIcons(const TIconList& value) {
  icons_->Assign(value);
}

bool TRxTray::Animated() const {
  return thread_ != nullptr && animated_;
}

void TRxTray::SetAnimated(bool value) {
  const bool on = value && icons_->Count() > 0;
  if (on == Animated()) return;
  if (on) {
    // A thread that is still ending stays a child until it has; it no longer is the current one.
    thread_ = new TTimerThread(this, interval_, !added_);
    animated_ = true;
  } else {
    animated_ = false;
    thread_->Resume();
    thread_->Terminate();
  }
  frame_index_ = 0;
  RefreshTrayIcon();
}

void TRxTray::SetInterval(quint16 value) {
  interval_ = value;
  if (thread_) thread_->SetInterval(value);
}

void TRxTray::SetPopupMenu(QMenu* menu) {
  popup_menu_ = menu;
  // A menu kept from popping up by itself stays with the program.
  adapter_->exportMenu(menu != nullptr && MenuAutoPopup(menu) ? menu : nullptr);
}

QString TRxTray::ShortTip(const QString& hint) {
  QString tip = hint.left(hint.indexOf(QLatin1Char('|')));
  if (tip.size() > 63) {
    // 63 characters, without splitting a character that takes two UTF-16 units.
    tip.truncate(tip.at(62).isHighSurrogate() ? 62 : 63);
  }
  return tip;
}

QString TRxTray::Tip() const {
  return ShortTip(hint_);
}

QIcon TRxTray::CurrentIcon() const {
  const int count = icons_->Count();
  if (count > 0 && Animated()) {
    // The list may have shrunk below the frame shown: fall back to the first frame.
    const int index = std::max(frame_index_, 0);
    return icons_->Items(index < count ? index : 0);
  }
  return icon_;
}

void TRxTray::AddToTray() {
  RemoveFromTray();
  const QIcon icon = CurrentIcon();
  if (icon.isNull()) {
    if (EmptyFrameShown() && thread_->Suspended()) thread_->Resume();
    return;
  }
  const QString tip = Tip();
  added_ = adapter_->add(icon, tip);
  if (tip.isEmpty() && added_) adapter_->modify(icon, tip);
  if (added_ && thread_ && thread_->Suspended()) thread_->Resume();
}

void TRxTray::RemoveFromTray() {
  adapter_->remove();
  added_ = false;
  // An empty frame takes the icon out only for that frame: the animation must go on to the next.
  if (thread_ && !in_frame_step_ && !EmptyFrameShown() && !thread_->Suspended()) {
    thread_->Suspend();
  }
}

bool TRxTray::EmptyFrameShown() const {
  // Whenever it happens (a frame step, switching the animation on, Active coming back), the next
  // frame may have an icon again, so the animation must keep running.
  return active_ && Animated() && icons_->Count() > 0 && CurrentIcon().isNull();
}

void TRxTray::RefreshTrayIcon() {
  if (icons_->Count() == 0 && Animated()) {
    SetAnimated(false);  // refreshes once more itself
    return;
  }
  if (added_) {
    const QIcon icon = CurrentIcon();
    if (!icon.isNull()) {
      adapter_->modify(icon, Tip());
    } else {
      RemoveFromTray();
    }
  } else if (active_) {
    AddToTray();
  }
}

void TRxTray::IconChanged() {
  RefreshTrayIcon();
}

void TRxTray::NextFrame() {
  if (destroying_ || !animated_) return;
  ++frame_index_;
  if (frame_index_ >= icons_->Count()) frame_index_ = 0;
  in_frame_step_ = true;
  RefreshTrayIcon();
  in_frame_step_ = false;
}

void TRxTray::AnimationEnded(TTimerThread* thread) {
  if (thread_ == thread) thread_ = nullptr;
}

void TRxTray::HandleMouse(TrayMouse what) {
  // A failing handler is reported and doesn't end the program: nothing may leave a Qt slot.
  try {
    switch (what) {
      case TrayMouse::kLeftUp:
        HandleClick(Qt::LeftButton);
        break;
      case TrayMouse::kLeftDoubleClick:
        HandleDblClick();
        break;
      case TrayMouse::kRightUp:
        HandleClick(Qt::RightButton);
        break;
    }
  } catch (const std::exception& e) {
    qWarning("Dovrik tray: %s", e.what());
  }
}

void TRxTray::HandleClick(Qt::MouseButton button) {
  const QPoint pos = adapter_->cursorPos();
  if (button == Qt::RightButton && PopupAtCursor(pos)) return;
  if (OnClick) OnClick(this, button, Qt::NoModifier, pos.x(), pos.y());
}

bool TRxTray::PopupAtCursor(const QPoint& pos) {
  QMenu* menu = popup_menu_;
  if (!active_ || menu == nullptr || !MenuAutoPopup(menu)) return false;
  CancelFormModes();
  menu->popup(pos);
  return true;
}

void TRxTray::CancelFormModes() {
  if (destroying_) return;
  // End any mouse capture or drag that would keep the menu from getting the mouse.
  if (QWidget* grabber = QWidget::mouseGrabber()) grabber->releaseMouse();
}

void TRxTray::HandleDblClick() {
  if (!ClickDefaultItem() && OnDblClick) OnDblClick(this);
}

bool TRxTray::ClickDefaultItem() {
  QMenu* menu = popup_menu_;
  if (!active_ || menu == nullptr) return false;
  QAction* item = menu->defaultAction();
  if (item == nullptr || !menu->actions().contains(item)) return false;
  item->trigger();
  return true;
}

}  // namespace dovrik
