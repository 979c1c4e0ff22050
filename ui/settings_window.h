// The settings window (objectName "Form2", caption "Dovrik settings"): where the user enters the
// servers, ports, user name, sender address, check interval, time-out and four switches, and the
// program's live store of them. It copies servers, ports, user, interval and time-out into the
// engine (applySettings); the main window, the compose path and the password prompt read its
// switches, "Your e-mail" and "Timeout" straight from the controls at the moment they need them,
// so what is typed counts for them even when the window is closed without "S&ubmit".
//
// Created once, second after the main window, and lives until the program ends; main thread only.
// Shown modally through the Desktop seam, at a first start from formCreate and later from the
// main window's settings commands. Closing it applies and stores nothing. It reads and writes the
// store only through StoredSettings (model/stored_settings.h).
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <functional>
#include <string>

#include "engine/security.h"
#include "model/settings_text.h"
#include "settings/security_settings.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace dovrik {

class Desktop;
class TQuorrel;

// What the settings window needs of the main window.
struct MainWindowLink {
  TQuorrel* engine = nullptr;              // Quorrel1; outlives the settings window
  std::function<void()> check_now;         // CheckNow
  std::function<QStringList()> log_lines;  // FLog: the credits and log lines, read at each showing
};

class SettingsWindow : public QDialog {
  Q_OBJECT

 public:
  SettingsWindow(MainWindowLink main, Desktop& desktop, QWidget* parent = nullptr);

  // At program start: restores the stored settings; with settings, switches checking on and
  // starts a check at once; without, runs this window modally for a first setup and switches
  // checking on only when it ends with "S&ubmit" (the first check then follows after the
  // interval).
  void formCreate();

  // Puts the defaults into every field (the last three switches keep their state), then the
  // stored "Settings" text over them, then each server's stored encryption choice (missing: as
  // its port implies) and trusted certificates, and applies. True when a non-empty text was stored.
  // A stored value the store cannot read as text is reported to the user and counts as none.
  bool restoreFromRegistry();
  // Stores the fields as typed (numbers before any adjustment) and, as values of their own, the
  // encryption choices and trusted certificates, then applies. A failing store is
  // reported to the user.
  void saveToRegistry();
  // Copies the fields and the encryption choices into the engine and shows the numbers in force
  // in "Check every" and "Timeout". Calls on_identity_changed when the user name, or either
  // server's name, port or encryption changed.
  void applySettings();

  // The engine's OnTrustCertificate: asks the user through the desktop whether to trust a
  // certificate no authority vouches for. "Always" is stored at once with that server's trusted
  // certificates (nothing else of the window is stored by it).
  void trustCertificate(const tQrCertificate& certificate, tQrTrust& answer);

  // The live readers.
  bool popupOnNewMessage() const;         // CB1
  bool autoGetMessage() const;            // CB2
  bool logEnabled() const;                // CB3
  bool promptOnExit() const;              // CB4
  std::string senderText() const;         // Edit9, as bytes
  QString timeoutText() const;            // Edit6
  SecurityMode incomingSecurity() const;  // InSecurity
  SecurityMode outgoingSecurity() const;  // OutSecurity

  // Set by the program: forget the remembered password, which was given for the old server.
  std::function<void()> on_identity_changed;

 protected:
  // FormShow: copies the main window's credits and log text into Memo1, and centres the window.
  void showEvent(QShowEvent* event) override;

 private:
  SettingsValues values() const;
  void setValues(const SettingsValues& values);
  void buildControls();
  QLayout* buildSecurityChoice();
  ServerSecurity security() const;
  void showSecurity(SecurityMode incoming, SecurityMode outgoing);
  // The user picked an encryption choice: propose its usual port, explain it.
  void securityChosen(bool incoming);

  MainWindowLink main_;
  Desktop& desktop_;
  QLineEdit* incoming_server_;   // Edit1
  QLineEdit* incoming_port_;     // Edit4
  QLineEdit* outgoing_server_;   // Edit7
  QLineEdit* outgoing_port_;     // Edit8
  QLineEdit* sender_;            // Edit9
  QLineEdit* user_name_;         // Edit2
  QLineEdit* check_every_;       // Edit5
  QLineEdit* timeout_;           // Edit6
  QCheckBox* popup_;             // CB1
  QCheckBox* auto_get_;          // CB2
  QCheckBox* log_enabled_;       // CB3
  QCheckBox* prompt_on_exit_;    // CB4
  QPushButton* restore_button_;  // BRestore
  QPushButton* save_button_;     // BSave
  QPushButton* submit_button_;   // BOK
  QPlainTextEdit* log_view_;     // Memo1
  QComboBox* in_security_;       // InSecurity
  QComboBox* out_security_;      // OutSecurity
  QLabel* security_hint_;        // SecurityHint: what the last choice means
  // The trusted certificates of each server; the choices themselves are the lists'.
  ServerSecurity trusted_;
  // What each list showed before the user's last pick, for the port proposal.
  SecurityMode in_shown_ = SecurityMode::kNone;
  SecurityMode out_shown_ = SecurityMode::kNone;
};

}  // namespace dovrik
