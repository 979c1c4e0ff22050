// The one seam for every question and modal window.
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
  QStringList filters;
  int filter_index = 0;
  QString default_suffix;
  QString last_file;
};

class Desktop {
 public:
  virtual ~Desktop() = default;
  // Runs a modal dialog: QDialog::exec in the program; a test answers in advance. Returns
  // QDialog::Accepted (1) or Rejected (0).
  virtual int runModal(QDialog& dialog) = 0;
  virtual bool askYesNo(QWidget* parent, std::string_view question) = 0;
  virtual std::optional<QString> askText(QWidget* parent, const QString& caption,
                                         const QString& prompt, const QString& initial) = 0;
  virtual std::optional<QString> askSaveFile(QWidget* parent, SaveFileRequest& request) = 0;
  virtual std::optional<QFont> askFont(QWidget* parent, const QFont& current) = 0;
  virtual void showMessage(QWidget* parent, const QString& text) = 0;
};

}  // namespace dovrik
