// MainWindow ("Form1", caption "Pellory"): the program's one view of the mailbox. It owns the mail
// engine, the tray icon, the bridge that serves the engine's queue inside Qt's event loops, its
// menus and the presenter that decides what is shown; it binds the presenter's screen to widgets.
//
// GUI thread only. The main window of the application: it starts hidden (the tray icon shows),
// and its destruction ends the program's work: events that arrive meanwhile are ignored, the base
// font is saved, then the engine is destroyed, which asks running exchanges to stop without
// waiting for them. Call platform::SetMainThread() before making it.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "components/lc_date.h"
#include "settings/font_value.h"
#include "ui/mailbox_presenter.h"

class QLabel;
class QMenu;
class QPlainTextEdit;
class QWidget;

namespace dovrik {

class Desktop;
class MessageTabBar;
class QueueBridge;
class TQuorrel;
class TRxTray;
class TrayAdapter;

// The value the window carries for the single-instance rule.
inline constexpr quint32 kInstanceMarker = 0x33786540;

class MainWindow : public QMainWindow, private MailboxView {
  Q_OBJECT
 public:
  // Without a tray adapter the tray icon goes to the desktop's notification area.
  explicit MainWindow(Desktop& desktop, QWidget* parent = nullptr,
                      std::unique_ptr<TrayAdapter> tray = nullptr);
  ~MainWindow() override;

  TQuorrel& engine() { return *engine_; }  // Quorrel1
  TRxTray& tray() { return *tray_; }       // RxTray1
  MailboxPresenter& presenter() { return *presenter_; }
  Desktop& desktop() { return desktop_; }

  // What the window reads of the other windows. The password asker answers the engine's
  // password requests (false: no password); until one is set, requests get an empty password.
  void setOptions(MailboxOptions options);
  void setPasswordAsker(std::function<bool(std::string&)> ask);

  void checkNow() { presenter_->checkNow(); }
  void showSelected() { presenter_->showSelected(); }
  bool getSelected() { return presenter_->getSelected(); }
  // Copies the base font onto the text view, the subject label and the registered text areas.
  void applyBaseFont();
  // Text areas of other windows that follow the base font (the compose window's text).
  void addBaseFontTarget(QWidget* widget);

  QStringList logLines() const { return presenter_->log(); }  // FLog
  QFont baseFont() const;
  const FontValue& baseFontValue() const { return base_font_; }
  void setBaseFont(const QFont& font);

  // Menu actions by item name ("CheckNow2", "GetMessage1", ..., "Active1", "Exit1").
  QAction* action(const char* name) const;
  QMenu* trayMenu() const { return tray_menu_; }  // PM1

  // The widgets, for the commands and tests.
  MessageTabBar& tabs() { return *tabs_; }            // TC1
  QPlainTextEdit& textView() { return *text_view_; }  // Memo2
  QWidget& headerPanel() { return *header_panel_; }   // Panel3
  // The full header texts shown (LFrom, LTo, LSubject, LDate), before any eliding.
  QString headerText(const char* label_name) const;

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void refresh(unsigned parts) override;
  void popUp() override;

  void createMenus();
  void createViews();
  void createStatusBar();
  QAction* addItem(QMenu* menu, const char* name, const QString& caption);
  void layoutHeader();
  void refreshMessage();
  void refreshMenus();
  void refreshStatus();
  void refreshTray();
  void refreshTabs();

  Desktop& desktop_;
  bool centred_ = false;
  int tabs_generation_shown_ = -1;
  bool syncing_tabs_ = false;
  std::function<bool(std::string&)> ask_password_;

  QueueBridge* bridge_;  // child
  std::unique_ptr<TQuorrel> engine_;
  TRxTray* tray_;  // child
  TLCDate date_ = TLCDate::WithBuildDate();
  FontValue base_font_;
  std::unique_ptr<MailboxPresenter> presenter_;
  QIcon app_icon_;
  QIcon new_mail_icon_;

  std::map<std::string, QAction*, std::less<>> actions_;
  QMenu* tray_menu_ = nullptr;  // child
  MessageTabBar* tabs_ = nullptr;
  QWidget* header_panel_ = nullptr;
  std::map<std::string, QLabel*, std::less<>> header_labels_;
  std::map<std::string, QString, std::less<>> header_texts_;
  QPlainTextEdit* text_view_ = nullptr;
  QLabel* status_panels_[4] = {};
  QWidget* status_bar_ = nullptr;
  std::vector<QPointer<QWidget>> font_targets_;
};

}  // namespace dovrik
