// The password prompt (objectName "Form4", caption "Password for e-mail server"): asks for the
// mail server's password in a modal window that closes itself after a countdown, and remembers the
// password for the run once a check has succeeded with it.
//
// Created once by the program, owned by it (or its parent widget), lives until the program ends;
// main thread only. The password lives only in this object's memory: never stored, logged or
// shown; it is wiped when forgotten and when the prompt is destroyed.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace dovrik {

class Desktop;

class PasswordPrompt : public QDialog {
  Q_OBJECT

 public:
  // What Edit1 holds until the user types: Send hands it over unchanged.
  static constexpr const char* kPlaceholder = "pass";

  // timeoutText: the settings window's "Timeout" field, read at every tick of the countdown.
  PasswordPrompt(Desktop& desktop, std::function<QString()> timeout_text,
                 QWidget* parent = nullptr);
  ~PasswordPrompt() override;

  // True with the password in pass when one is available: the confirmed one at once, or the one
  // typed and sent through the prompt, run modally through the desktop seam. False, pass untouched,
  // when the user aborts, closes the window or lets the countdown run out, and at once when the
  // prompt is already open for another request (one window cannot be opened twice).
  bool askPassword(std::string& pass);

  // The main window confirms after a check ended without error. Only a password still held can be
  // confirmed: one forgotten meanwhile (the server or user changed) stays forgotten.
  void setPassConfirmed(bool confirmed);
  bool passConfirmed() const { return confirmed_; }
  // Wipes the remembered password, clears the confirmation and puts the placeholder back in
  // Edit1. Called when the incoming server, port or user name changes.
  void forgetPassword();
  bool isAsking() const { return asking_; }

  // One second of the countdown (driven by Timer1; public so tests drive it by hand): shows the
  // seconds left and closes the prompt with Rejected once they are used up.
  void timerTick();

 private:
  // Label2's text, also given to screen readers as its accessible description.
  void showCountdown(const QString& text);
  void wipePassword();

  Desktop& desktop_;
  std::function<QString()> timeout_text_;
  QLabel* prompt_label_;       // Label1
  QLineEdit* password_edit_;   // Edit1
  QPushButton* send_button_;   // Button1
  QPushButton* abort_button_;  // Button2
  QLabel* countdown_label_;    // Label2
  QTimer* timer_;              // Timer1
  std::string password_;       // FPassword
  bool password_given_ = false;
  bool confirmed_ = false;  // FPassConfirmed
  int elapsed_ = 0;         // FElapsed
  bool asking_ = false;
};

}  // namespace dovrik
