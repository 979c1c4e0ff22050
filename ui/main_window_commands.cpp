// The main window's commands: the items of its menu bar and tray menu, the tray click, the close
// query and the end of the session. Every question goes through the desktop seam.
#include <QCloseEvent>
#include <QMenu>

#include "components/rx_tray.h"
#include "engine/quorrel.h"
#include "mime/encode_outgoing.h"
#include "model/display_text.h"
#include "model/extract_address.h"
#include "model/message_file.h"
#include "model/stored_settings.h"
#include "ui/compose_window.h"
#include "ui/main_window.h"
#include "ui/settings_window.h"

namespace dovrik {

void MainWindow::bindCommands() {
  save_request_.title = "Save Message As File";
  save_request_.filters = {"Microsoft Internet Mail Message (*.eml)", "Text File (*.txt)"};
  save_request_.filter_index = 0;
  save_request_.default_suffix = "txt";

  auto on = [this](const char* name, auto&& command) {
    connect(action(name), &QAction::triggered, this, command);
  };
  on("CheckNow2", [this] { checkNow(); });
  on("Checknow1", [this] { checkNow(); });
  on("Settings2", [this] { showSettings(false); });
  on("Settings1", [this] { showSettings(true); });
  on("GetMessage1", [this] { getSelected(); });
  on("Reply1", [this] { reply(); });
  on("Saveas1", [this] { saveAs(); });
  on("Delete1", [this] { deleteSelected(); });
  on("Newmessage1", [this] { newMessage(); });
  on("Font1", [this] { chooseFont(); });
  on("Hide1", [this] { hide(); });
  on("Exit2", [this] { exitCommand(); });
  on("Exit1", [this] { exitCommand(); });
  // Abort1 has no command: it only shows whether actions run.
  on("Active1", [this](bool checked) { engine_->SetCheckActive(checked); });
  connect(tray_menu_, &QMenu::aboutToShow, this,
          [this] { action("Active1")->setChecked(engine_->CheckActive()); });
  tray_->OnClick = [this](TRxTray*, Qt::MouseButton, Qt::KeyboardModifiers, int, int) {
    trayClicked();
  };
}

void MainWindow::trayClicked() {
  show();
  raise();
  activateWindow();
}

void MainWindow::showSettings(bool from_tray) {
  if (!settings_) return;
  if (from_tray && isVisible()) {
    raise();
    activateWindow();
  }
  desktop_.runModal(*settings_);
}

void MainWindow::chooseFont() {
  if (auto font = desktop_.askFont(this, baseFont())) setBaseFont(*font);
}

void MainWindow::saveAs() {
  // The selected tab's own text: the engine's last retrieved one may belong to another tab.
  const auto text = presenter_->selectedText();
  if (!text) return;
  const std::optional<QString> path = desktop_.askSaveFile(this, save_request_);
  if (!path) return;
  if (auto error = SaveMessageFile(path->toStdString(), *text)) {
    desktop_.showMessage(this, DisplayText(error->message));
  }
}

void MainWindow::deleteSelected() {
  if (!desktop_.askYesNo(this, "Are you sure you want to delete this message from server?")) {
    return;
  }
  if (const auto request = presenter_->deleteRequest())
    engine_->DeleteMessage(request->number, request->guard);
}

void MainWindow::deleteEnded() {
  // The check that follows shows the mailbox as it is; the user also learns that the message
  // they confirmed is still there.
  if (engine_->ErrorCode(acDelete) == 0) return;
  desktop_.showMessage(
      this, "The message was not deleted: " + DisplayText(OneLine(engine_->ErrorText(acDelete))));
}

void MainWindow::reply() {
  const MailboxScreen& s = presenter_->screen();
  const std::string body = s.text;
  if (!compose_ || !compose_->compose(s.header.Subject, s.header.From, body, true)) return;
  // The sender shown now, after the compose window closed, whatever the text's "To: " line says.
  sendConfirmed(presenter_->screen().header.From, compose_->text());
}

void MainWindow::newMessage() {
  const std::string last = StoredSettings().lastRecipient();
  const std::optional<QString> address =
      desktop_.askText(this, "Send mail to", "E-Mail address:", DisplayText(last));
  if (!address || !compose_) return;
  const std::string to = BytesFromText(*address);
  if (!compose_->compose("%Subject%", to, "Hello!\r\n\r\nGoodbye!", false)) return;
  StoredSettings().setLastRecipient(to);
  sendConfirmed(to, compose_->text());
}

void MainWindow::sendConfirmed(const std::string& to, const std::string& text) {
  if (!desktop_.askYesNo(this, "Send this reply?")) return;
  const std::string recipient = ExtractAddress(to);
  const std::string sender = ExtractAddress(settings_ ? settings_->senderText() : std::string());
  // Text typed with letters beyond 7-bit goes out declared and encoded; plain text is unchanged.
  engine_->SendMail(sender, recipient, mime::EncodeOutgoing(text));
}

void MainWindow::exitCommand() {
  if (exiting_) return;  // its question is open already
  exiting_ = true;
  const bool ask = settings_ && settings_->promptOnExit();
  if (!ask || desktop_.askYesNo(this, "Are you sure you want to quit?")) {
    quitting_ = true;
    close();
  }
  exiting_ = false;
}

void MainWindow::closeEvent(QCloseEvent* event) {
  hide();
  if (quitting_ || hide_on_close_ == 0) {
    event->accept();
    emit closed();
  } else {
    event->ignore();
  }
}

bool MainWindow::endSession() {
  hide_on_close_ = 0;
  saveBaseFont();  // now as well: a session manager may not wait for the program's end
  return close();
}

}  // namespace dovrik
