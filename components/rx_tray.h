// TRxTray: one icon with a tip in the desktop's notification area. It keeps the icon up to date
// when its icon or tip changes, turns mouse actions on the icon into events, pops up a menu on a
// right click, and can animate the icon through a list of frames.
//
// Everything runs on the GUI thread; the animation thread only times the frames (TTimerThread).
#pragma once

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>

#include "components/icon_list.h"
#include "components/tray_adapter.h"

namespace dovrik {

class TTimerThread;

// A fixed surface: it keeps its given names.
// NOLINTBEGIN(readability-identifier-naming)
class TRxTray : public QObject {
  Q_OBJECT
 public:
  using TMouseEvent = std::function<void(TRxTray* sender, Qt::MouseButton button,
                                         Qt::KeyboardModifiers shift, int x, int y)>;
  using TNotifyEvent = std::function<void(TRxTray* sender)>;

  // Without an adapter the tray uses the real notification area (QSystemTrayIcon).
  explicit TRxTray(QObject* owner = nullptr, std::unique_ptr<TrayAdapter> adapter = nullptr);
  ~TRxTray() override;

  // After the owner has set the properties: shows the icon when Active.
  void Loaded();

  bool Active() const { return active_; }
  void SetActive(bool value);
  const QString& Hint() const { return hint_; }
  void SetHint(const QString& value);
  const QIcon& Icon() const { return icon_; }
  void SetIcon(const QIcon& value);
  TIconList& Icons() { return *icons_; }
  const TIconList& Icons() const { return *icons_; }
  void SetIcons(const TIconList& value);
  // True only while an animation thread exists and the animation is switched on.
  bool Animated() const;
  void SetAnimated(bool value);
  quint16 Interval() const { return interval_; }
  void SetInterval(quint16 value);
  QMenu* PopupMenu() const { return popup_menu_; }
  // Not owned; cleared when the menu is destroyed.
  void SetPopupMenu(QMenu* menu);

  TMouseEvent OnClick;
  TNotifyEvent OnDblClick;

  // State worth seeing from outside: whether the icon is in the tray, the frame shown, the tip
  // passed to the tray, the running animation thread.
  bool InTray() const { return added_; }
  int FrameIndex() const { return frame_index_; }
  QString Tip() const;
  TTimerThread* AnimationThread() const { return thread_; }
  TrayAdapter& Adapter() { return *adapter_; }

  // The tip shown for a hint: the part before the first "|", at most 63 characters.
  static QString ShortTip(const QString& hint);

  // Called by the animation thread's GUI-side half.
  void NextFrame();
  void AnimationEnded(TTimerThread* thread);

 private:
  QIcon CurrentIcon() const;
  bool EmptyFrameShown() const;
  void AddToTray();
  void RemoveFromTray();
  void RefreshTrayIcon();
  void IconChanged();
  void HandleMouse(TrayMouse what);
  void HandleClick(Qt::MouseButton button);
  void HandleDblClick();
  bool PopupAtCursor(const QPoint& pos);
  bool ClickDefaultItem();
  void CancelFormModes();

  std::unique_ptr<TrayAdapter> adapter_;
  bool active_ = true;
  bool added_ = false;
  bool animated_ = false;
  int frame_index_ = -1;
  quint16 interval_ = 150;
  QIcon icon_;
  std::unique_ptr<TIconList> icons_;
  TTimerThread* thread_ = nullptr;  // child; deletes itself when it has ended
  bool destroying_ = false;
  bool in_frame_step_ = false;
  QString hint_;
  QPointer<QMenu> popup_menu_;
};
// NOLINTEND(readability-identifier-naming)

}  // namespace dovrik
