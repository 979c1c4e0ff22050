#include "ui/desktop.h"

#include <QApplication>
#include <QFileDialog>
#include <QFontDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>

#include "desktop/ask_yes_no.h"

namespace dovrik {
namespace {

// The caption of the program's message boxes and questions.
constexpr char kMessageCaption[] = "Dovrik";

}  // namespace

int QtDesktop::runModal(QDialog& dialog) {
  return dialog.exec();
}

bool QtDesktop::askYesNo(QWidget* parent, std::string_view question) {
  return AskYesNo(question, parent);
}

std::optional<QString> QtDesktop::askText(QWidget* parent, const QString& caption,
                                          const QString& prompt, const QString& initial) {
  bool ok = false;
  QString text = QInputDialog::getText(parent, caption, prompt, QLineEdit::Normal, initial, &ok);
  if (!ok) return std::nullopt;
  return text;
}

std::optional<QString> QtDesktop::askSaveFile(QWidget* parent, SaveFileRequest& request) {
  QFileDialog dialog(parent, request.title);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilters(request.filters);
  if (request.filter_index >= 0 && request.filter_index < request.filters.size())
    dialog.selectNameFilter(request.filters.at(request.filter_index));
  dialog.setDefaultSuffix(request.default_suffix);
  if (!request.last_file.isEmpty()) dialog.selectFile(request.last_file);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  const qsizetype filter = request.filters.indexOf(dialog.selectedNameFilter());
  if (filter >= 0) request.filter_index = static_cast<int>(filter);
  request.last_file = dialog.selectedFiles().constFirst();
  return request.last_file;
}

std::optional<QFont> QtDesktop::askFont(QWidget* parent, const QFont& current) {
  bool ok = false;
  QFont font = QFontDialog::getFont(&ok, current, parent);
  if (!ok) return std::nullopt;
  return font;
}

void QtDesktop::showMessage(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(kMessageCaption), text, QMessageBox::Ok,
                  parent);
  box.exec();
}

std::optional<int> QtDesktop::askChoice(QWidget* parent, const QString& question,
                                        const QStringList& answers) {
  QMessageBox box(QMessageBox::Question, QString::fromLatin1(kMessageCaption), question,
                  QMessageBox::NoButton, parent);
  QList<QAbstractButton*> buttons;
  for (const QString& answer : answers) buttons << box.addButton(answer, QMessageBox::ActionRole);
  if (!buttons.isEmpty()) {
    box.setDefaultButton(qobject_cast<QPushButton*>(buttons.constFirst()));
    box.setEscapeButton(buttons.constFirst());
  }
  box.exec();
  const qsizetype chosen = buttons.indexOf(box.clickedButton());
  if (chosen < 0) return std::nullopt;
  return static_cast<int>(chosen);
}

}  // namespace dovrik
