// The one seam between the windows and the desktop's dialogs: every question and every modal
// window goes through a Desktop. The program uses QtDesktop (real dialogs); tests hand in a
// scripted double that answers in advance, so no test hunts for an open modal widget.
//
// Main thread only. Every call blocks its caller in a nested event loop until answered; engine
// events and timers keep being served meanwhile. The Desktop is owned by whoever builds the
// windows and must outlive them.
#pragma once

#include <QDialog>
#include <QFont>
#include <QString>
#include <QStringList>
#include <optional>
#include <string_view>

class QWidget;

namespace dovrik {

struct SaveFileRequest {
  QString title;
  QStringList filters;  // name filters, "Text files (*.txt)"
  int filter_index = 0;
  QString default_suffix;
  QString last_file;  // proposed; set to the chosen file
};

class Desktop {
 public:
  virtual ~Desktop() = default;
  // Runs dialog modally (the settings window, the compose window, the password prompt) until it
  // ends; returns its result, QDialog::Accepted (1) or QDialog::Rejected (0).
  virtual int runModal(QDialog& dialog) = 0;
  // The Yes/No confirmation: true only for Yes.
  virtual bool askYesNo(QWidget* parent, std::string_view question) = 0;
  // A one-line text input; nothing when cancelled.
  virtual std::optional<QString> askText(QWidget* parent, const QString& caption,
                                         const QString& prompt, const QString& initial) = 0;
  // The chosen path, or nothing; updates request.last_file and filter_index as the dialog left
  // them.
  virtual std::optional<QString> askSaveFile(QWidget* parent, SaveFileRequest& request) = 0;
  virtual std::optional<QFont> askFont(QWidget* parent, const QFont& current) = 0;
  // A plain box with an OK button, for errors the user must see.
  virtual void showMessage(QWidget* parent, const QString& text) = 0;
};

class QtDesktop final : public Desktop {
 public:
  int runModal(QDialog& dialog) override;
  bool askYesNo(QWidget* parent, std::string_view question) override;
  std::optional<QString> askText(QWidget* parent, const QString& caption, const QString& prompt,
                                 const QString& initial) override;
  std::optional<QString> askSaveFile(QWidget* parent, SaveFileRequest& request) override;
  std::optional<QFont> askFont(QWidget* parent, const QFont& current) override;
  void showMessage(QWidget* parent, const QString& text) override;
};

}  // namespace dovrik
