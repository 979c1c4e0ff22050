#include "ui/settings_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>

#include "engine/quorrel.h"
#include "model/apply_settings.h"
#include "model/display_text.h"
#include "model/security_choice.h"
#include "model/stored_settings.h"
#include "settings/registry_exception.h"
#include "ui/desktop.h"
#include "ui/trust_question.h"

namespace dovrik {
namespace {

QString Caption(const QString& text) {
  QString plain = text;
  return plain.remove(QLatin1Char('&'));
}

QLineEdit* MakeEdit(const char* name, QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QString::fromLatin1(name));
  return edit;
}

QCheckBox* MakeCheckBox(const char* name, const QString& caption, QWidget* parent) {
  auto* box = new QCheckBox(caption, parent);
  box->setObjectName(QString::fromLatin1(name));
  box->setAccessibleName(Caption(caption));
  box->setChecked(true);
  return box;
}

QPushButton* MakeButton(const char* name, const QString& caption, QWidget* parent) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setAccessibleName(Caption(caption));
  button->setFlat(true);
  button->setAutoDefault(false);
  return button;
}

}  // namespace

SettingsWindow::SettingsWindow(MainWindowLink main, Desktop& desktop, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      main_(std::move(main)),
      desktop_(desktop) {
  setObjectName(QStringLiteral("Form2"));
  setWindowTitle(QStringLiteral("Dovrik settings"));
  setAccessibleName(windowTitle());
  buildControls();
  connect(restore_button_, &QPushButton::clicked, this, [this] { restoreFromRegistry(); });
  connect(save_button_, &QPushButton::clicked, this, &SettingsWindow::saveToRegistry);
  connect(submit_button_, &QPushButton::clicked, this, [this] {
    applySettings();
    accept();
  });
}

void SettingsWindow::buildControls() {
  incoming_server_ = MakeEdit("Edit1", this);
  incoming_port_ = MakeEdit("Edit4", this);
  outgoing_server_ = MakeEdit("Edit7", this);
  outgoing_port_ = MakeEdit("Edit8", this);
  sender_ = MakeEdit("Edit9", this);
  user_name_ = MakeEdit("Edit2", this);
  check_every_ = MakeEdit("Edit5", this);
  timeout_ = MakeEdit("Edit6", this);
  popup_ = MakeCheckBox("CB1", QStringLiteral("&Popup on new message"), this);
  auto_get_ = MakeCheckBox("CB2", QStringLiteral("&Auto get message"), this);
  log_enabled_ = MakeCheckBox("CB3", QStringLiteral("&Log enabled"), this);
  prompt_on_exit_ = MakeCheckBox("CB4", QStringLiteral("Pr&ompt on exit"), this);
  restore_button_ = MakeButton("BRestore", QStringLiteral("&Restore from registry"), this);
  save_button_ = MakeButton("BSave", QStringLiteral("&Save to registry"), this);
  submit_button_ = MakeButton("BOK", QStringLiteral("S&ubmit"), this);
  log_view_ = new QPlainTextEdit(this);

  QFont bold = submit_button_->font();
  bold.setBold(true);
  submit_button_->setFont(bold);
  // A flat button needs no room for a frame: as wide as its caption, so it fits beside the
  // check boxes.
  submit_button_->setFixedWidth(QFontMetrics(bold).horizontalAdvance(QStringLiteral("Submit")) +
                                12);
  QPalette green = submit_button_->palette();
  green.setColor(QPalette::ButtonText, QColor(0, 128, 0));
  submit_button_->setPalette(green);
  submit_button_->setToolTip(QStringLiteral("OK"));

  log_view_->setObjectName(QStringLiteral("Memo1"));
  log_view_->setAccessibleName(QStringLiteral("Credits and log"));
  log_view_->setReadOnly(true);
  log_view_->setLineWrapMode(QPlainTextEdit::NoWrap);
  log_view_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  log_view_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  log_view_->setFixedHeight(179);
  QPalette face = log_view_->palette();
  face.setColor(QPalette::Base, face.color(QPalette::Button));
  log_view_->setPalette(face);
  log_view_->setFont(QFont(QStringLiteral("MS Serif")));

  // The arrangement of the designed dialog, packed tight: the check boxes take most of the width
  // of the lower rows, so "S&ubmit" stands beside them and the other two buttons above it.
  auto label = [this](const QString& caption, QLineEdit* edit) {
    auto* text = new QLabel(caption, this);
    text->setBuddy(edit);
    edit->setAccessibleName(caption);
    return text;
  };
  auto* left = new QGridLayout;
  left->setHorizontalSpacing(6);
  left->setVerticalSpacing(1);
  const std::pair<QString, QLineEdit*> left_fields[] = {
      {QStringLiteral("Incoming server"), incoming_server_},
      {QStringLiteral("Incoming port"), incoming_port_},
      {QStringLiteral("Outcoming server"), outgoing_server_},
      {QStringLiteral("Outcoming port"), outgoing_port_},
  };
  int row = 0;
  for (const auto& [caption, edit] : left_fields) {
    left->addWidget(label(caption, edit), row, 0);
    left->addWidget(edit, row++, 1);
  }
  // "Your e-mail" has a shorter caption, so its field starts further left and is wider.
  auto* sender_row = new QHBoxLayout;
  sender_row->setSpacing(6);
  sender_row->addWidget(label(QStringLiteral("Your e-mail"), sender_));
  sender_row->addWidget(sender_, 1);
  left->addLayout(sender_row, row, 0, 1, 2);

  auto* right = new QGridLayout;
  right->setHorizontalSpacing(4);
  right->setVerticalSpacing(1);
  right->addWidget(label(QStringLiteral("User"), user_name_), 0, 0);
  right->addWidget(user_name_, 0, 1, 1, 2);
  right->addWidget(label(QStringLiteral("Check every"), check_every_), 1, 0);
  right->addWidget(check_every_, 1, 1);
  right->addWidget(new QLabel(QStringLiteral("sec."), this), 1, 2);
  right->addWidget(label(QStringLiteral("Timeout"), timeout_), 2, 0);
  right->addWidget(timeout_, 2, 1);
  right->addWidget(new QLabel(QStringLiteral("sec."), this), 2, 2);
  right->addWidget(restore_button_, 3, 0, 1, 3, Qt::AlignRight);
  right->addWidget(save_button_, 4, 0, 1, 3, Qt::AlignRight);
  right->setRowStretch(5, 1);

  // The fields take the width the captions and buttons leave; the numbers need only a few digits.
  for (QLineEdit* edit :
       {incoming_server_, incoming_port_, outgoing_server_, outgoing_port_, sender_, user_name_}) {
    edit->setSizePolicy(QSizePolicy::Ignored, edit->sizePolicy().verticalPolicy());
    edit->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("0000000")));
  }
  for (QLineEdit* edit : {check_every_, timeout_})
    edit->setFixedWidth(fontMetrics().horizontalAdvance(QStringLiteral("000000")) + 10);

  auto* top = new QHBoxLayout;
  top->setSpacing(8);
  top->addLayout(left, 1);
  top->addLayout(right);

  auto* switches = new QGridLayout;
  switches->setHorizontalSpacing(6);
  switches->setVerticalSpacing(0);
  switches->addWidget(popup_, 0, 0);
  switches->addWidget(auto_get_, 1, 0);
  switches->addWidget(log_enabled_, 0, 1);
  switches->addWidget(prompt_on_exit_, 1, 1);

  auto* lower = new QHBoxLayout;
  lower->setSpacing(6);
  lower->addLayout(switches);
  lower->addStretch();
  lower->addWidget(submit_button_, 0, Qt::AlignTop);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(6, 6, 6, 0);
  layout->setSpacing(2);
  layout->addLayout(top);
  layout->addLayout(buildSecurityChoice());
  layout->addLayout(lower);
  layout->addStretch();
  layout->addWidget(log_view_);
  // The designed size; a larger desktop font grows the window rather than clipping its texts.
  setFixedSize(QSize(366, 347).expandedTo(layout->minimumSize()));

  // The designed order, then the encryption choices, then the buttons.
  QWidget* order[] = {incoming_server_, incoming_port_, outgoing_server_, outgoing_port_,
                      sender_,          user_name_,     check_every_,     timeout_,
                      popup_,           auto_get_,      log_enabled_,     prompt_on_exit_,
                      log_view_,        in_security_,   out_security_,    restore_button_,
                      save_button_,     submit_button_};
  for (std::size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);
}

QLayout* SettingsWindow::buildSecurityChoice() {
  auto make_list = [this](const char* name, const QString& caption) {
    auto* list = new QComboBox(this);
    list->setObjectName(QString::fromLatin1(name));
    list->setAccessibleName(caption);
    for (SecurityMode mode : kSecurityModes) {
      list->addItem(SecurityCaption(mode), static_cast<int>(mode));
      list->setItemData(list->count() - 1, SecurityMeaning(mode), Qt::ToolTipRole);
    }
    return list;
  };
  in_security_ = make_list("InSecurity", QStringLiteral("Incoming security"));
  out_security_ = make_list("OutSecurity", QStringLiteral("Outgoing security"));
  security_hint_ = new QLabel(SecurityMeaning(SecurityMode::kNone), this);
  security_hint_->setObjectName(QStringLiteral("SecurityHint"));
  security_hint_->setAccessibleName(QStringLiteral("What the security choice means"));
  connect(in_security_, &QComboBox::activated, this, [this] { securityChosen(true); });
  connect(out_security_, &QComboBox::activated, this, [this] { securityChosen(false); });

  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(6);
  grid->setVerticalSpacing(1);
  const std::pair<QString, QComboBox*> rows[] = {{in_security_->accessibleName(), in_security_},
                                                 {out_security_->accessibleName(), out_security_}};
  int row = 0;
  for (const auto& [caption, list] : rows) {
    auto* label = new QLabel(caption, this);
    label->setBuddy(list);
    grid->addWidget(label, row, 0);
    grid->addWidget(list, row++, 1);
  }
  grid->addWidget(security_hint_, row, 0, 1, 3);
  grid->setColumnStretch(2, 1);
  return grid;
}

SecurityMode SettingsWindow::incomingSecurity() const {
  return static_cast<SecurityMode>(in_security_->currentData().toInt());
}

SecurityMode SettingsWindow::outgoingSecurity() const {
  return static_cast<SecurityMode>(out_security_->currentData().toInt());
}

ServerSecurity SettingsWindow::security() const {
  ServerSecurity security = trusted_;
  security.In = incomingSecurity();
  security.Out = outgoingSecurity();
  return security;
}

void SettingsWindow::showSecurity(SecurityMode incoming, SecurityMode outgoing) {
  in_security_->setCurrentIndex(in_security_->findData(static_cast<int>(incoming)));
  out_security_->setCurrentIndex(out_security_->findData(static_cast<int>(outgoing)));
  in_shown_ = incoming;
  out_shown_ = outgoing;
  security_hint_->setText(SecurityMeaning(incoming));
}

void SettingsWindow::securityChosen(bool incoming) {
  const SecurityMode chosen = incoming ? incomingSecurity() : outgoingSecurity();
  SecurityMode& shown = incoming ? in_shown_ : out_shown_;
  QLineEdit* port = incoming ? incoming_port_ : outgoing_port_;
  if (const auto proposed = ProposedPort(BytesFromText(port->text()), shown, chosen, incoming))
    port->setText(DisplayText(*proposed));
  shown = chosen;
  security_hint_->setText(SecurityMeaning(chosen));
}

void SettingsWindow::trustCertificate(const tQrCertificate& certificate, tQrTrust& answer) {
  answer = AskTrustCertificate(desktop_, isVisible() ? this : parentWidget(), certificate);
  if (answer != trAlways) return;
  std::vector<std::string>& list = certificate.Incoming ? trusted_.InTrusted : trusted_.OutTrusted;
  if (std::find(list.begin(), list.end(), certificate.Fingerprint) == list.end())
    list.push_back(certificate.Fingerprint);
  try {
    StoredSettings().saveTrusted(trusted_.InTrusted, trusted_.OutTrusted);
  } catch (const ERegistryException& error) {
    desktop_.showMessage(this, QStringLiteral("The trusted certificate could not be saved: %1")
                                   .arg(DisplayText(error.what())));
  }
}

void SettingsWindow::formCreate() {
  if (restoreFromRegistry()) {
    main_.engine->SetCheckActive(true);
    if (main_.check_now) main_.check_now();
  } else if (desktop_.runModal(*this) == QDialog::Accepted) {
    main_.engine->SetCheckActive(true);
  }
}

bool SettingsWindow::restoreFromRegistry() {
  const StoredSettingsValue stored = StoredSettings().load(values());
  if (!stored.read_error.empty()) {
    desktop_.showMessage(this, QStringLiteral("The stored settings cannot be read: %1")
                                   .arg(DisplayText(stored.read_error)));
  }
  setValues(stored.values);
  trusted_ = stored.security;
  showSecurity(trusted_.In, trusted_.Out);
  applySettings();
  return stored.found;
}

void SettingsWindow::saveToRegistry() {
  try {
    StoredSettings().save(values(), security());
  } catch (const ERegistryException& error) {
    desktop_.showMessage(
        this, QStringLiteral("The settings could not be saved: %1").arg(DisplayText(error.what())));
  }
  applySettings();
}

void SettingsWindow::applySettings() {
  SettingsValues applied = values();
  const bool identity_changed = ApplySettingsToEngine(applied, *main_.engine);
  const bool security_changed = ApplySecurityToEngine(security(), *main_.engine);
  check_every_->setText(DisplayText(applied.check_every));
  timeout_->setText(DisplayText(applied.timeout));
  if ((identity_changed || security_changed) && on_identity_changed) on_identity_changed();
}

bool SettingsWindow::popupOnNewMessage() const {
  return popup_->isChecked();
}
bool SettingsWindow::autoGetMessage() const {
  return auto_get_->isChecked();
}
bool SettingsWindow::logEnabled() const {
  return log_enabled_->isChecked();
}
bool SettingsWindow::promptOnExit() const {
  return prompt_on_exit_->isChecked();
}
std::string SettingsWindow::senderText() const {
  return BytesFromText(sender_->text());
}
QString SettingsWindow::timeoutText() const {
  return timeout_->text();
}

void SettingsWindow::showEvent(QShowEvent* event) {
  log_view_->setPlainText(main_.log_lines ? main_.log_lines().join(QLatin1Char('\n')) : QString());
  if (const QScreen* screen = this->screen())
    move(screen->availableGeometry().center() - rect().center());
  QDialog::showEvent(event);
}

SettingsValues SettingsWindow::values() const {
  SettingsValues v;
  v.incoming_server = BytesFromText(incoming_server_->text());
  v.incoming_port = BytesFromText(incoming_port_->text());
  v.user_name = BytesFromText(user_name_->text());
  v.check_every = BytesFromText(check_every_->text());
  v.timeout = BytesFromText(timeout_->text());
  v.popup_on_new_message = popup_->isChecked();
  v.outgoing_server = BytesFromText(outgoing_server_->text());
  v.outgoing_port = BytesFromText(outgoing_port_->text());
  v.auto_get_message = auto_get_->isChecked();
  v.log_enabled = log_enabled_->isChecked();
  v.prompt_on_exit = prompt_on_exit_->isChecked();
  v.sender = BytesFromText(sender_->text());
  return v;
}

void SettingsWindow::setValues(const SettingsValues& v) {
  incoming_server_->setText(DisplayText(v.incoming_server));
  incoming_port_->setText(DisplayText(v.incoming_port));
  user_name_->setText(DisplayText(v.user_name));
  check_every_->setText(DisplayText(v.check_every));
  timeout_->setText(DisplayText(v.timeout));
  popup_->setChecked(v.popup_on_new_message);
  outgoing_server_->setText(DisplayText(v.outgoing_server));
  outgoing_port_->setText(DisplayText(v.outgoing_port));
  auto_get_->setChecked(v.auto_get_message);
  log_enabled_->setChecked(v.log_enabled);
  prompt_on_exit_->setChecked(v.prompt_on_exit);
  sender_->setText(DisplayText(v.sender));
  // Show each text from its start, as typed, rather than scrolled to its end.
  for (QLineEdit* edit : {incoming_server_, incoming_port_, outgoing_server_, outgoing_port_,
                          sender_, user_name_, check_every_, timeout_})
    edit->setCursorPosition(0);
}

}  // namespace dovrik
