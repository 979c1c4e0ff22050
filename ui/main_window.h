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
#include "desktop/font_value.h"
#include "model/mailbox_presenter.h"
#include "settings/stored_values.h"
#include "ui/desktop.h"
#include "ui/settings_window.h"

class QLabel;
class QMenu;
class QPlainTextEdit;
class QWidget;

namespace dovrik {

class ComposeWindow;
class Desktop;
class MessageTabBar;
class PasswordPrompt;
class StatusPanels;
class QueueBridge;
class TQuorrel;
class TRxTray;
class TrayAdapter;

// The value the window carries for the single-instance rule.
using stored::kInstanceMarker;

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

  // Wires the other three windows in (any may be null: that part stays unwired): the settings
  // window's switches are read live, the password prompt answers the engine's password requests
  // and is confirmed by each successful check and cleared when the incoming identity changes, and
  // the compose window's text area follows the base font. The windows must outlive this one or be
  // disconnected by passing null.
  void connectWindows(SettingsWindow* settings, PasswordPrompt* prompt, ComposeWindow* compose);
  // What the settings window needs of this one, for its constructor.
  MainWindowLink link();
  SettingsWindow* settingsWindow() const;
  PasswordPrompt* passwordPrompt() const;
  ComposeWindow* composeWindow() const;

  // The lower-level wiring that connectWindows uses. The password asker answers the engine's
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

  // ---- the commands of both menus and the tray ----
  void showSettings(bool from_tray);  // Settings2, Settings1 (brings the application up first)
  void reply();                       // Reply1
  // Saveas1: writes the selected tab's own retrieved text (CR LF line ends) by way of a temporary
  // file in the same folder; a failure is shown and leaves nothing under the chosen name.
  void saveAs();
  // Delete1: asks, then deletes the selected tab's message, provided the mailbox is still the
  // one the last check saw (count, size and the message's unique id).
  void deleteSelected();
  void newMessage();   // Newmessage1, with the last recipient in LASTFRIEND
  void chooseFont();   // Font1
  void exitCommand();  // Exit1, Exit2: the optional quit question, then the window closes
  void trayClicked();  // RxTray1's click: show the window and bring it to the front
  void sendConfirmed(const std::string& to, const std::string& text);
  // The end of the user's session (the program's signal and session handler calls it): no
  // question; the base font is saved and the window closes. True when it closed.
  bool endSession();
  bool quitting() const { return quitting_; }

 signals:
  // The window has closed for good (exit confirmed or session end): the program ends.
  void closed();

 public:
  // The widgets, for the commands and tests.
  MessageTabBar& tabs() { return *tabs_; }            // TC1
  QPlainTextEdit& textView() { return *text_view_; }  // Memo2
  QWidget& headerPanel() { return *header_panel_; }   // Panel3
  // The full header texts shown (LFrom, LTo, LSubject, LDate), before any eliding.
  QString headerText(const char* label_name) const;

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void refresh(unsigned parts) override;
  void popUp() override;

  void bindCommands();
  void deleteEnded();
  void saveBaseFont();
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
  bool quitting_ = false;         // FQuitting
  bool exiting_ = false;          // FExiting
  int hide_on_close_ = 1;         // FHideOnClose
  SaveFileRequest save_request_;  // SD1, keeps the last file chosen
  int tabs_generation_shown_ = -1;
  bool syncing_tabs_ = false;
  std::function<bool(std::string&)> ask_password_;
  QPointer<SettingsWindow> settings_;
  QPointer<PasswordPrompt> prompt_;
  QPointer<ComposeWindow> compose_;

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
  StatusPanels* status_panels_ = nullptr;  // child
  QWidget* status_bar_ = nullptr;
  std::vector<QPointer<QWidget>> font_targets_;
};

}  // namespace dovrik
