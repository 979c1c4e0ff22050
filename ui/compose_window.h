// TForm3, the compose and reply window: a modal plain-text editor for one outgoing message, filled
// with the complete text (header lines and body) that will be handed to the engine on Send.
//
// Created once at program start, hidden, and reused: every compose() replaces the text and the
// caption, so nothing of an earlier message survives. Runs modally through the Desktop seam; while
// it is open the event loop keeps serving the engine. GUI thread only. Owned by its Qt parent or
// by the program's start.
#pragma once

#include <QDialog>
#include <functional>
#include <string>

class QKeyEvent;
class QPlainTextEdit;
class QToolButton;

namespace dovrik {

class Desktop;
class WarningPaintBox;

class ComposeWindow : public QDialog {
  Q_OBJECT
 public:
  // sender_text: the settings window's "Your e-mail" field, read at every compose().
  ComposeWindow(Desktop& desktop, std::function<std::string()> sender_text,
                QWidget* parent = nullptr);
  ~ComposeWindow() override;

  // Fills the window (see ComposeText) and shows it modally; true when it closed with Send or
  // Enter, false with Ignore, Esc or the close button.
  bool compose(const std::string& subject, const std::string& to, const std::string& body,
               bool is_reply);

  // Memo1's whole text as bytes, each line ended by CR LF. The bytes come back as they went in
  // when the text was shown as Latin-1 (not valid UTF-8) and the user typed nothing beyond it;
  // otherwise UTF-8.
  std::string text() const;
  QPlainTextEdit& textArea();  // Memo1, for the base font

  // The clock of the "Date: " line (days since 30 December 1899); local time unless a test sets it.
  void setClock(std::function<double()> now);

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  Desktop& desktop_;
  std::function<std::string()> sender_text_;
  std::function<double()> now_;
  QPlainTextEdit* memo_;  // Memo1, child
  QToolButton* send_;     // SpeedButton1, child
  QToolButton* ignore_;   // SpeedButton2, child
  WarningPaintBox* pb1_;  // PB1, child
  bool shown_as_latin1_ = false;
};

}  // namespace dovrik
