// MailboxPresenter: decides everything the main window shows of the mailbox, from the engine's
// action events: the message tabs and their retrieved texts, the header panel and text view, the
// four status panels, the tray icon and hint, the enabled menu items and the log list.
//
// Plain code on the GUI thread, no widgets: it keeps what is shown in a MailboxScreen and tells
// its view which parts changed. The view (the main window, or a test) applies them and reports
// the user's tab selection back with selectTab. The presenter neither owns the engine nor hooks
// its events: the engine's owner forwards actionStarted / actionDone, so every event has one
// owner. Settings are read through MailboxOptions at the moment of use.
#pragma once

#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/engine_types.h"

namespace dovrik {

class TQuorrel;

// The texts the window shows, exactly.
inline constexpr const char* kNoMessagesText = "<no messages>";
inline constexpr const char* kPleaseWaitText = "Please wait while getting the message...";
inline constexpr const char* kGetRefusedText =
    "Unabled to get messages right now. Please try later.";
inline constexpr const char* kClickGetText = "Click [Get Message] to get this message.";
inline constexpr const char* kNotCheckedStatus = "not checked yet";
inline constexpr const char* kNotCheckedHint = "Not checked yet";
inline constexpr const char* kErrorHint = "Error!";

// ActionNames: "Idle", "Checking mail", "Getting message", "Deleting message", "Sending mail".
const char* ActionName(tQrAction action);
// "5120 bytes in 3 message(s)".
std::string MailboxSummary(int size, int count);
// An engine error text on one line: line breaks (a server's CR LF, a socket error's two lines)
// become single blanks, and blanks at either end go.
std::string OneLine(std::string_view text);

struct MenuStates {
  bool get_message = false;     // GetMessage1
  bool reply = false;           // Reply1
  bool save_as = false;         // Saveas1
  bool delete_message = false;  // Delete1
  bool abort = false;           // Abort1
  bool operator==(const MenuStates&) const = default;
};

// Everything shown, as bytes where the bytes come from a server (the view decodes them).
struct MailboxScreen {
  int tab_count = 0;
  int tabs_generation = 0;             // counts rebuilds: a rebuild to the same count is one too
  int selected = -1;                   // -1: no tab
  bool header_visible = false;         // Panel3
  tQrMessage header;                   // From, To, Subject, Date of the message shown; Text unused
  std::string text = kNoMessagesText;  // Memo2
  std::string status[4] = {kNotCheckedStatus, "", "", ""};
  std::string status_hint;  // SB1's hint
  std::string tray_hint = kNotCheckedHint;
  bool tray_new_mail = false;  // the new-mail icon, else the application's icon
  MenuStates menus;
};

// Settings the presenter reads live, and the password confirmation it gives.
struct MailboxOptions {
  std::function<bool()> popup_on_new_message;  // CB1
  std::function<bool()> auto_get_message;      // CB2
  std::function<bool()> log_enabled;           // CB3
  std::function<void()> confirm_password;      // a check succeeded: FPassConfirmed := true
  // The current time in the locale's time format, for log lines.
  std::function<std::string()> time_text;
};

class MailboxView {
 public:
  enum Part : unsigned {
    kTabs = 1,     // tab_count changed (a rebuild) or the selection moved
    kMessage = 2,  // header panel or text view
    kMenus = 4,
    kStatus = 8,
    kTray = 16,
    kLog = 32,
  };
  virtual ~MailboxView() = default;
  virtual void refresh(unsigned parts) = 0;
  // Show the window and bring the application to the front (new mail with pop-up on).
  virtual void popUp() = 0;
};

struct DeleteRequest {
  int number = 0;  // 1-based, as the server counts
  tDeleteGuard guard;
};

class MailboxPresenter {
 public:
  MailboxPresenter(TQuorrel& engine, MailboxView& view, QStringList credits);

  void setOptions(MailboxOptions options) { options_ = std::move(options); }
  // From now on events are ignored (the window is being destroyed).
  void setDestroying() { destroying_ = true; }

  // The engine's events, forwarded by its owner.
  void actionStarted(tQrAction action);
  void actionDone(tQrAction action);

  void checkNow();            // CheckNow
  bool getSelected();         // GetSelected
  void showSelected();        // ShowSelected, also the whole of a tab change
  void selectTab(int index);  // the user selected a tab (TC1Change)

  const MailboxScreen& screen() const { return screen_; }
  const QStringList& log() const { return log_; }  // FLog
  // The selected tab's retrieved raw text; null when none is selected or it is not retrieved.
  std::shared_ptr<const std::string> selectedText() const;
  // The server's unique id of the selected tab's retrieved message; empty when unknown.
  std::string selectedUidl() const;
  // What a delete of the selected tab asks of the engine: its message number and the guard that
  // lets it go ahead only while the mailbox is the one the user saw at the last check. Null when
  // no tab is selected.
  std::optional<DeleteRequest> deleteRequest() const;
  int lastCount() const { return last_count_; }
  int lastSize() const { return last_size_; }
  int checkCount() const { return check_count_; }
  int getIndex() const { return get_index_; }
  // The running actions in start order (FRunningActions).
  const std::vector<tQrAction>& runningActions() const { return running_; }

 private:
  void checkDone();
  void getDone();
  void showMessageText(const std::shared_ptr<const std::string>& text);
  void showGetError(const std::string& error);
  void rebuildTabs(int count);
  bool option(const std::function<bool()>& f) const { return f && f(); }
  void changed(unsigned parts) { view_.refresh(parts); }

  TQuorrel& engine_;
  MailboxView& view_;
  MailboxOptions options_;
  MailboxScreen screen_;
  QStringList log_;
  std::vector<tQrAction> running_;
  // The slots of retrieved messages by tab index; a tab without an entry is not retrieved.
  std::unordered_map<int, std::shared_ptr<const std::string>> texts_;
  std::unordered_map<int, std::string> uidls_;  // by tab index, for the guarded delete
  int last_count_ = -1;
  int last_size_ = -1;
  int check_count_ = 0;
  int get_requested_ = 0;
  int get_index_ = -1;
  bool destroying_ = false;
};

}  // namespace dovrik
