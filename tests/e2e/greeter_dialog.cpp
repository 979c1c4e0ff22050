// A tiny dialog that the desktop harness drives from outside the process: a line edit, a button
// that greets the name typed, a button that asks a question in a modal dialog (as the program's
// settings window and password prompt are modal), and a label that shows the outcome.
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// Returns QDialog::Accepted for "Yes", Rejected for "No" or the close button.
int AskQuestion(QWidget* parent) {
  QDialog question(parent);
  question.setObjectName("Question");
  question.setWindowTitle("Question");
  question.setAccessibleName("Question");
  auto* layout = new QVBoxLayout(&question);
  layout->addWidget(new QLabel("Are you sure?", &question));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Yes | QDialogButtonBox::No, &question);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &question, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &question, &QDialog::reject);
  layout->addWidget(buttons);
  return question.exec();
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QDialog dialog;
  dialog.setObjectName("Greeter");
  dialog.setWindowTitle("Greeter");
  dialog.setAccessibleName("Greeter");
  auto* layout = new QVBoxLayout(&dialog);
  auto* name = new QLineEdit(&dialog);
  name->setObjectName("Name");
  name->setAccessibleName("Name");
  auto* greet = new QPushButton("&Greet", &dialog);
  greet->setObjectName("Greet");
  greet->setAccessibleName("Greet");
  greet->setAutoDefault(false);
  auto* ask = new QPushButton("&Ask", &dialog);
  ask->setObjectName("Ask");
  ask->setAccessibleName("Ask");
  ask->setAutoDefault(false);
  auto* outcome = new QLabel("Nobody greeted yet", &dialog);
  outcome->setObjectName("Outcome");
  layout->addWidget(name);
  layout->addWidget(greet);
  layout->addWidget(ask);
  layout->addWidget(outcome);
  QObject::connect(greet, &QPushButton::clicked,
                   [&] { outcome->setText("Hello, " + name->text() + "!"); });
  QObject::connect(ask, &QPushButton::clicked, [&] {
    outcome->setText(AskQuestion(&dialog) == QDialog::Accepted ? "Answer: yes" : "Answer: no");
  });
  return dialog.exec() == QDialog::Accepted ? 0 : 3;
}
