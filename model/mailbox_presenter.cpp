#include "model/mailbox_presenter.h"

#include <algorithm>

#include "engine/quorrel.h"
#include "engine/text_lines.h"
#include "model/display_text.h"
#include "model/shown_message.h"

namespace dovrik {

const char* ActionName(tQrAction action) {
  static constexpr const char* kNames[kQrActionCount] = {"Idle", "Checking mail", "Getting message",
                                                         "Deleting message", "Sending mail"};
  const int i = static_cast<int>(action);
  return i >= 0 && i < kQrActionCount ? kNames[i] : "";
}

std::string MailboxSummary(int size, int count) {
  return std::to_string(size) + " bytes in " + std::to_string(count) + " message(s)";
}

std::string OneLine(std::string_view text) {
  std::string line;
  for (std::string_view part : SplitLines(text)) {
    part = TrimBlanks(part);
    if (part.empty()) continue;
    if (!line.empty()) line += ' ';
    line += part;
  }
  return line;
}

MailboxPresenter::MailboxPresenter(TQuorrel& engine, MailboxView& view, QStringList credits)
    : engine_(engine), view_(view), log_(std::move(credits)) {}

void MailboxPresenter::actionStarted(tQrAction action) {
  if (destroying_) return;
  running_.push_back(action);
  screen_.status[2] = ActionName(action);
  screen_.menus.abort = true;
  screen_.tray_hint = ActionName(action);
  if (action == acGetMessage) get_index_ = get_requested_ - 1;
  changed(MailboxView::kStatus | MailboxView::kMenus | MailboxView::kTray);
}

void MailboxPresenter::actionDone(tQrAction action) {
  if (destroying_) return;
  if (auto it = std::find(running_.begin(), running_.end(), action); it != running_.end()) {
    running_.erase(it);
  }
  if (screen_.status[2] == ActionName(action)) screen_.status[2].clear();
  screen_.menus.abort = !running_.empty();
  changed(MailboxView::kStatus | MailboxView::kMenus);
  switch (action) {
    case acCheck:
      return checkDone();
    case acGetMessage:
      return getDone();
    case acDelete:
      return checkNow();  // whatever the delete's result: the check shows the mailbox as it is
    case acSend:
      if (engine_.ErrorCode(acSend) != 0 && option(options_.log_enabled)) {
        log_.append(DisplayText(engine_.ErrorText(acSend)));
        changed(MailboxView::kLog);
      }
      return;
    case acNone:
      return;
  }
}

void MailboxPresenter::checkDone() {
  std::string summary;
  const bool failed = engine_.ErrorCode(acCheck) != 0;
  bool pop_up = false;
  if (failed) {
    summary = OneLine(engine_.ErrorText(acCheck));
  } else {
    if (options_.confirm_password) options_.confirm_password();
    const int count = engine_.MessageCount();
    const int size = engine_.MailboxSize();
    screen_.tray_new_mail = count > 0;
    screen_.menus.delete_message = count > 0;
    changed(MailboxView::kMenus | MailboxView::kTray);
    summary = MailboxSummary(size, count);
    if (count != last_count_ || size != last_size_) {
      if (option(options_.log_enabled)) {
        const std::string now = options_.time_text ? options_.time_text() : std::string();
        log_.prepend(DisplayText(now + " :=> " + summary));
        changed(MailboxView::kLog);
      }
      rebuildTabs(count);
      showSelected();
      pop_up = count > 0 && option(options_.popup_on_new_message);
    }
    last_count_ = count;
    last_size_ = size;
  }
  screen_.status[0] = summary;
  screen_.status_hint = summary;
  screen_.tray_hint = failed ? kErrorHint : summary;
  ++check_count_;
  screen_.status[1] = "Checked " + std::to_string(check_count_) + " times";
  changed(MailboxView::kStatus | MailboxView::kTray);
  if (pop_up) view_.popUp();
}

void MailboxPresenter::rebuildTabs(int count) {
  // Slots are kept only for retrieved messages, so a rebuild costs the same for any count, and a
  // server announcing billions of messages cannot make the window allocate for each.
  texts_.clear();
  uidls_.clear();
  screen_.tab_count = std::max(0, count);
  ++screen_.tabs_generation;
  screen_.selected = screen_.tab_count > 0 ? 0 : -1;
  changed(MailboxView::kTabs);
}

void MailboxPresenter::getDone() {
  if (get_index_ < 0 || get_index_ >= screen_.tab_count) return;  // tabs rebuilt meanwhile
  if (engine_.ErrorCode(acGetMessage) != 0) {
    // The engine still holds the message retrieved before this one: keep it out of this slot.
    if (screen_.selected == get_index_) showGetError(engine_.ErrorText(acGetMessage));
  } else {
    auto text = engine_.MessageTextShared();
    texts_[get_index_] = text;
    uidls_[get_index_] = engine_.MessageUidl();
    if (screen_.selected == get_index_) showMessageText(text);
  }
  screen_.tray_hint = MailboxSummary(last_size_, last_count_);
  changed(MailboxView::kTray);
}

void MailboxPresenter::checkNow() {
  engine_.Check();
}

bool MailboxPresenter::getSelected() {
  if (screen_.selected < 0) return false;
  // Set before the engine call: the engine raises the start event from inside it.
  get_requested_ = screen_.selected + 1;
  return engine_.GetMessage(get_requested_);
}

std::shared_ptr<const std::string> MailboxPresenter::selectedText() const {
  auto it = texts_.find(screen_.selected);
  return it == texts_.end() ? nullptr : it->second;
}

std::optional<DeleteRequest> MailboxPresenter::deleteRequest() const {
  if (screen_.selected < 0) return std::nullopt;
  DeleteRequest request;
  request.number = screen_.selected + 1;
  request.guard.ExpectedCount = last_count_;
  request.guard.ExpectedSize = last_size_;
  request.guard.ExpectedUidl = selectedUidl();
  return request;
}

std::string MailboxPresenter::selectedUidl() const {
  auto it = uidls_.find(screen_.selected);
  return it == uidls_.end() ? std::string() : it->second;
}

void MailboxPresenter::showSelected() {
  if (screen_.selected < 0) {
    screen_.header_visible = false;
    screen_.text = kNoMessagesText;
    changed(MailboxView::kMessage);
    return;
  }
  showMessageText(selectedText());
}

void MailboxPresenter::selectTab(int index) {
  if (index < -1 || index >= screen_.tab_count) return;
  screen_.selected = index;
  showSelected();
}

void MailboxPresenter::showMessageText(const std::shared_ptr<const std::string>& text) {
  if (!text || text->empty()) {
    screen_.header_visible = false;
    if (option(options_.auto_get_message)) {
      screen_.text = getSelected() ? kPleaseWaitText : kGetRefusedText;
    } else {
      screen_.text = kClickGetText;
      screen_.menus.get_message = true;
    }
    screen_.menus.save_as = false;
    screen_.menus.reply = false;
  } else {
    tQrMessage message = ShownMessage(engine_, *text);
    screen_.text = std::move(message.Text);
    message.Text.clear();
    screen_.header = std::move(message);
    screen_.header_visible = true;
    screen_.menus.save_as = true;
    screen_.menus.get_message = false;
    screen_.menus.reply = true;
  }
  changed(MailboxView::kMessage | MailboxView::kMenus);
}

void MailboxPresenter::showGetError(const std::string& error) {
  screen_.header_visible = false;
  screen_.text =
      "The message could not be retrieved: " + OneLine(error) + "\r\n\r\n" + kClickGetText;
  screen_.menus.get_message = true;
  screen_.menus.save_as = false;
  screen_.menus.reply = false;
  changed(MailboxView::kMessage | MailboxView::kMenus);
}

}  // namespace dovrik
