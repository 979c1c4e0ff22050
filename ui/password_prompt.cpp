#include "ui/password_prompt.h"

#include <string.h>

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QTimer>
#include <cstdint>

#include "engine/str_to_int_def_trim.h"
#include "model/display_text.h"
#include "ui/desktop.h"

namespace dovrik {
namespace {

// Shows every character of the password field as "&", at once (no last-character delay).
class AmpersandEchoStyle : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* return_data) const override {
    if (hint == SH_LineEdit_PasswordCharacter) return '&';
    if (hint == SH_LineEdit_PasswordMaskDelay) return 0;
    return QProxyStyle::styleHint(hint, option, widget, return_data);
  }
};

constexpr int kDefaultTimeout = 20;

}  // namespace

PasswordPrompt::PasswordPrompt(Desktop& desktop, std::function<QString()> timeout_text,
                               QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      desktop_(desktop),
      timeout_text_(std::move(timeout_text)),
      prompt_label_(new QLabel(QStringLiteral("Enter your password"), this)),
      password_edit_(new QLineEdit(QString::fromLatin1(kPlaceholder), this)),
      send_button_(new QPushButton(QStringLiteral("Send"), this)),
      abort_button_(new QPushButton(QStringLiteral("Abort"), this)),
      countdown_label_(new QLabel(this)),
      timer_(new QTimer(this)) {
  setObjectName(QStringLiteral("Form4"));
  setWindowTitle(QStringLiteral("Password for e-mail server"));
  setAccessibleName(windowTitle());
  setFixedSize(336, 97);

  prompt_label_->setObjectName(QStringLiteral("Label1"));
  prompt_label_->setBuddy(password_edit_);
  password_edit_->setObjectName(QStringLiteral("Edit1"));
  password_edit_->setAccessibleName(prompt_label_->text());
  password_edit_->setEchoMode(QLineEdit::Password);
  // Created after the field, so it is destroyed after it too.
  auto* echo_style = new AmpersandEchoStyle;
  echo_style->setParent(this);
  password_edit_->setStyle(echo_style);
  send_button_->setObjectName(QStringLiteral("Button1"));
  send_button_->setAccessibleName(send_button_->text());
  send_button_->setDefault(true);
  abort_button_->setObjectName(QStringLiteral("Button2"));
  abort_button_->setAccessibleName(abort_button_->text());
  countdown_label_->setObjectName(QStringLiteral("Label2"));
  countdown_label_->setAccessibleName(QStringLiteral("Time left"));
  timer_->setObjectName(QStringLiteral("Timer1"));
  timer_->setInterval(1000);

  auto* layout = new QGridLayout(this);
  layout->setContentsMargins(10, 10, 10, 10);
  layout->setHorizontalSpacing(8);
  layout->setVerticalSpacing(6);
  layout->addWidget(prompt_label_, 0, 0);
  layout->addWidget(password_edit_, 0, 1);
  layout->addWidget(send_button_, 0, 2);
  layout->addWidget(countdown_label_, 1, 0, 1, 2);
  layout->addWidget(abort_button_, 1, 2);
  layout->setColumnStretch(1, 1);

  connect(send_button_, &QPushButton::clicked, this, &QDialog::accept);
  connect(abort_button_, &QPushButton::clicked, this, &QDialog::reject);
  connect(timer_, &QTimer::timeout, this, &PasswordPrompt::timerTick);
}

PasswordPrompt::~PasswordPrompt() {
  wipePassword();
}

bool PasswordPrompt::askPassword(std::string& pass) {
  if (confirmed_) {
    pass = password_;
    return true;
  }
  if (asking_) return false;
  asking_ = true;
  elapsed_ = 0;
  showCountdown(QString());
  timer_->start();
  const bool sent = desktop_.runModal(*this) == QDialog::Accepted;
  timer_->stop();
  asking_ = false;
  if (!sent) return false;
  wipePassword();
  password_ = BytesFromText(password_edit_->text());
  password_given_ = true;
  pass = password_;
  return true;
}

void PasswordPrompt::setPassConfirmed(bool confirmed) {
  confirmed_ = confirmed && password_given_;
}

void PasswordPrompt::forgetPassword() {
  wipePassword();
  password_given_ = false;
  confirmed_ = false;
  password_edit_->setText(QString::fromLatin1(kPlaceholder));
}

void PasswordPrompt::timerTick() {
  if (!asking_) return;
  // Read at every tick: a time-out changed while the prompt is open counts at once. 64 bits, so
  // no limit can overflow the subtraction.
  const std::int64_t limit = StrToIntDefTrim(BytesFromText(timeout_text_()), kDefaultTimeout);
  showCountdown(QStringLiteral("You have %1 sec. left").arg(limit - elapsed_));
  ++elapsed_;
  if (elapsed_ > limit) {
    timer_->stop();
    reject();
  }
}

void PasswordPrompt::showCountdown(const QString& text) {
  // The name stays "Time left"; a screen reader finds the count in the description. Set only
  // when it changes: each change is an event on the accessibility bus, at most one per tick.
  if (text == countdown_label_->text()) return;
  countdown_label_->setText(text);
  countdown_label_->setAccessibleDescription(text);
}

void PasswordPrompt::wipePassword() {
  if (!password_.empty()) ::explicit_bzero(password_.data(), password_.size());
  password_.clear();
}

}  // namespace dovrik
