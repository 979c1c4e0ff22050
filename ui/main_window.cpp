#include "ui/main_window.h"

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScreen>
#include <QStatusBar>
#include <QTime>

#include "components/rx_tray.h"
#include "desktop/font_registry.h"
#include "desktop/long_date_text.h"
#include "desktop/queue_bridge.h"
#include "engine/quorrel.h"
#include "mime/header_text.h"
#include "model/credits_text.h"
#include "model/display_text.h"
#include "settings/registry_exception.h"
#include "ui/app_icons.h"
#include "ui/compose_window.h"
#include "ui/message_tab_bar.h"
#include "ui/password_prompt.h"
#include "ui/settings_window.h"
#include "ui/status_panels.h"

#ifndef DOVRIK_VERSION
#define DOVRIK_VERSION "0"
#endif

namespace dovrik {
namespace {

// Header values are shown on one line: a label never needs more characters than this.
constexpr qsizetype kHeaderShownChars = 1000;

QString OneLineLabelText(const std::string& bytes) {
  QString text = DisplayText(std::string_view(bytes).substr(0, kHeaderShownChars * 4));
  text.truncate(kHeaderShownChars);
  for (QChar& c : text) {
    if (c.unicode() < 0x20 || c.unicode() == 0x7f) c = QChar(' ');
  }
  return text;
}

// A header value as its label shows it: between isolates, so that direction controls in a sender's
// name cannot reorder what stands beside it (the cut mark included). The isolate takes the
// direction of the value's first strong letter, so right-to-left text reads as before.
QString IsolatedLabelText(const QString& shown) {
  if (shown.isEmpty()) return shown;
  return QString::fromStdString(mime::IsolatedHeaderValue(shown.toStdString()));
}

// The text view lays out a whole line at once, so a line of 100,000 characters costs a tenth of
// a second on its own. Longer lines are shown broken into pieces of this length; the message
// itself (saved, replied to) keeps its lines.
constexpr qsizetype kShownLineChars = 2000;

QString ShownBody(QString text) {
  qsizetype run = 0;
  qsizetype i = 0;
  for (; i < text.size(); ++i) {
    if (text[i] == QChar('\r')) continue;  // part of the line's end
    run = text[i] == QChar('\n') ? 0 : run + 1;
    if (run > kShownLineChars) break;
  }
  if (i == text.size()) return text;  // the usual case: nothing to break
  QString shown;
  shown.reserve(text.size() + text.size() / kShownLineChars);
  run = 0;
  for (QChar c : text) {
    if (c == QChar('\n')) {
      run = 0;
    } else if (c != QChar('\r') && ++run > kShownLineChars) {
      shown += QChar('\n');
      run = 1;
    }
    shown += c;
  }
  return shown;
}

std::string LocaleTimeText() {
  return QLocale::system().toString(QTime::currentTime(), QLocale::ShortFormat).toStdString();
}

}  // namespace

MainWindow::MainWindow(Desktop& desktop, QWidget* parent, std::unique_ptr<TrayAdapter> tray)
    : QMainWindow(parent),
      desktop_(desktop),
      bridge_(new QueueBridge(this)),
      engine_(std::make_unique<TQuorrel>()),
      tray_(new TRxTray(this, std::move(tray))),
      app_icon_(ApplicationIcon()),
      new_mail_icon_(NewMailIcon()) {
  setObjectName("Form1");
  setWindowTitle("Pellory");
  setAccessibleName("Pellory");
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setWindowIcon(app_icon_);
  resize(431, 294);

  // The engine's values as the window was designed; the settings window replaces them.
  engine_->SetUserName("SomeUser");
  engine_->SetInPort("pop3");
  engine_->SetOutPort("smtp");
  engine_->SetCheckEvery(10);
  engine_->SetTimeOut(10);
  engine_->SetCheckActive(false);

  createMenus();
  createViews();
  createStatusBar();

  // Creation proper. The lists live in the presenter; the log starts with the credits text.
  setProperty("dovrikInstanceMarker", kInstanceMarker);
  tray_->SetHint(kNotCheckedHint);  // as designed: set before the icon puts it into the tray
  tray_->SetPopupMenu(tray_menu_);
  tray_->SetIcon(app_icon_);
  presenter_ =
      std::make_unique<MailboxPresenter>(*engine_, static_cast<MailboxView&>(*this),
                                         CreditsText(DOVRIK_VERSION, LongDateText(date_.LCDate())));
  setOptions({});
  refresh(~0u);
  try {
    LoadFontFromRegistry(base_font_, stored::kBaseFontKey);
  } catch (const ERegistryException& e) {
    qWarning("The stored base font could not be read, the default is used: %s", e.what());
  }

  engine_->OnActionStart = [this](TQuorrel*, tQrAction a) { presenter_->actionStarted(a); };
  engine_->OnActionDone = [this](TQuorrel*, tQrAction a) {
    presenter_->actionDone(a);
    if (a == acDelete) deleteEnded();
  };
  engine_->OnGetPass = [this](TQuorrel*, std::string& pass) {
    if (!ask_password_ || !ask_password_(pass)) pass.clear();
  };
  bindCommands();
  tray_->Loaded();
}

void MainWindow::saveBaseFont() {
  try {
    SaveFontToRegistry(base_font_, stored::kBaseFontKey);
  } catch (const ERegistryException& e) {
    qWarning("The base font could not be saved: %s", e.what());
  }
}

MainWindow::~MainWindow() {
  presenter_->setDestroying();
  engine_->OnGetPass = nullptr;
  saveBaseFont();
  // The engine goes first, while the presenter it reports to still exists.
  engine_.reset();
}

void MainWindow::setOptions(MailboxOptions options) {
  if (!options.time_text) options.time_text = LocaleTimeText;
  presenter_->setOptions(std::move(options));
}

SettingsWindow* MainWindow::settingsWindow() const {
  return settings_;
}
PasswordPrompt* MainWindow::passwordPrompt() const {
  return prompt_;
}
ComposeWindow* MainWindow::composeWindow() const {
  return compose_;
}

MainWindowLink MainWindow::link() {
  return {engine_.get(), [this] { checkNow(); }, [this] { return logLines(); }};
}

void MainWindow::connectWindows(SettingsWindow* settings, PasswordPrompt* prompt,
                                ComposeWindow* compose) {
  settings_ = settings;
  prompt_ = prompt;
  compose_ = compose;
  MailboxOptions options;
  if (settings) {
    options.popup_on_new_message = [this] { return settings_ && settings_->popupOnNewMessage(); };
    options.auto_get_message = [this] { return settings_ && settings_->autoGetMessage(); };
    options.log_enabled = [this] { return settings_ && settings_->logEnabled(); };
  }
  if (prompt) {
    options.confirm_password = [this] {
      if (prompt_) prompt_->setPassConfirmed(true);
    };
    setPasswordAsker([this](std::string& pass) { return prompt_ && prompt_->askPassword(pass); });
  } else {
    setPasswordAsker(nullptr);
  }
  // A certificate no authority vouches for is put to the user by the settings window, which
  // keeps the servers' trusted certificates; without it the engine's answer stays "no".
  engine_->OnTrustCertificate = nullptr;
  if (settings) {
    engine_->OnTrustCertificate = [this](TQuorrel*, const tQrCertificate& c, tQrTrust& answer) {
      if (settings_) settings_->trustCertificate(c, answer);
    };
  }
  if (settings && prompt) {
    settings->on_identity_changed = [this] {
      if (prompt_) prompt_->forgetPassword();
    };
  }
  setOptions(std::move(options));
  if (compose) addBaseFontTarget(&compose->textArea());
}

void MainWindow::setPasswordAsker(std::function<bool(std::string&)> ask) {
  ask_password_ = std::move(ask);
}

void MainWindow::layoutHeader() {
  const QFontMetrics fm = header_labels_["LDateC"]->fontMetrics();
  const int step = std::max(12, fm.height());
  int caption_width = 0;
  for (const char* name : {"LDateC", "LFromC", "LToC", "LSubjectC"}) {
    caption_width = std::max(caption_width, fm.horizontalAdvance(header_labels_[name]->text()));
  }
  header_panel_->setFixedHeight(std::max(50, 4 * step + 2));
  const int value_left = 4 + caption_width + 6;
  const int value_width = std::max(0, header_panel_->width() - value_left - 4);
  const char* rows[4][2] = {
      {"LDateC", "LDate"}, {"LFromC", "LFrom"}, {"LToC", "LTo"}, {"LSubjectC", "LSubject"}};
  for (int row = 0; row < 4; ++row) {
    header_labels_[rows[row][0]]->setGeometry(4, 1 + row * step, caption_width, step);
    QLabel* value = header_labels_[rows[row][1]];
    value->setGeometry(value_left, 1 + row * step, value_width, step);
    const QString& full = header_texts_[rows[row][1]];
    // A screen reader reads the whole value, not the cut one; set only on a change, as each
    // change is an event on the accessibility bus. Set first: a label with a name of its own
    // sends no second event for its new text.
    if (value->accessibleName() != full) value->setAccessibleName(full);
    value->setText(
        IsolatedLabelText(value->fontMetrics().elidedText(full, Qt::ElideRight, value_width)));
    value->setToolTip(full.size() > kHeaderShownChars / 4 ? full.left(kHeaderShownChars / 4)
                                                          : full);
  }
}

QString MainWindow::headerText(const char* label_name) const {
  auto it = header_texts_.find(label_name);
  return it == header_texts_.end() ? QString() : it->second;
}

void MainWindow::refresh(unsigned parts) {
  if (parts & kTabs) refreshTabs();
  if (parts & kMessage) refreshMessage();
  if (parts & kMenus) refreshMenus();
  if (parts & kStatus) refreshStatus();
  if (parts & kTray) refreshTray();
}

void MainWindow::refreshTabs() {
  const MailboxScreen& s = presenter_->screen();
  // The presenter moved the selection itself: the tab bar follows without reporting back.
  syncing_tabs_ = true;
  if (s.tabs_generation != tabs_generation_shown_) {
    tabs_->setCount(s.tab_count);
    tabs_generation_shown_ = s.tabs_generation;
  }
  if (s.selected >= 0) tabs_->setCurrentIndex(s.selected);
  syncing_tabs_ = false;
}

void MainWindow::refreshMessage() {
  const MailboxScreen& s = presenter_->screen();
  header_panel_->setVisible(s.header_visible);
  if (s.header_visible) {
    header_texts_["LDate"] = OneLineLabelText(s.header.Date);
    header_texts_["LFrom"] = OneLineLabelText(s.header.From);
    header_texts_["LTo"] = OneLineLabelText(s.header.To);
    header_texts_["LSubject"] = OneLineLabelText(s.header.Subject);
    layoutHeader();
  }
  // Filled with updates off: the view then lays out once, for the lines in sight.
  text_view_->setUpdatesEnabled(false);
  text_view_->setPlainText(ShownBody(DisplayText(s.text)));
  text_view_->setUpdatesEnabled(true);
}

void MainWindow::refreshMenus() {
  const MenuStates& m = presenter_->screen().menus;
  actions_["GetMessage1"]->setEnabled(m.get_message);
  actions_["Reply1"]->setEnabled(m.reply);
  actions_["Saveas1"]->setEnabled(m.save_as);
  actions_["Delete1"]->setEnabled(m.delete_message);
  actions_["Abort1"]->setEnabled(m.abort);
}

void MainWindow::refreshStatus() {
  const MailboxScreen& s = presenter_->screen();
  for (int i = 0; i < 4; ++i) status_panels_->setText(i, DisplayText(s.status[i]));
  status_bar_->setToolTip(DisplayText(s.status_hint));
}

void MainWindow::refreshTray() {
  const MailboxScreen& s = presenter_->screen();
  tray_->SetIcon(s.tray_new_mail ? new_mail_icon_ : app_icon_);
  tray_->SetHint(DisplayText(s.tray_hint));
}

void MainWindow::popUp() {
  show();
  raise();
  activateWindow();
}

QFont MainWindow::baseFont() const {
  return base_font_.toQFont();
}

void MainWindow::setBaseFont(const QFont& font) {
  base_font_.assignQFont(font);
  applyBaseFont();
}

void MainWindow::addBaseFontTarget(QWidget* widget) {
  font_targets_.emplace_back(widget);
  applyBaseFont();
}

void MainWindow::applyBaseFont() {
  const QFont font = base_font_.toQFont();
  QPalette palette = text_view_->palette();
  palette.setColor(QPalette::Text, base_font_.toQColor());
  text_view_->setFont(font);
  text_view_->setPalette(palette);
  header_labels_["LSubject"]->setFont(font);
  for (const QPointer<QWidget>& target : font_targets_) {
    if (!target) continue;
    target->setFont(font);
    QPalette p = target->palette();
    p.setColor(QPalette::Text, base_font_.toQColor());
    target->setPalette(p);
  }
  layoutHeader();
}

void MainWindow::showEvent(QShowEvent* event) {
  if (!centred_) {
    centred_ = true;
    if (QScreen* screen = this->screen()) {
      QRect frame = frameGeometry();
      frame.moveCenter(screen->availableGeometry().center());
      move(frame.topLeft());
    }
  }
  applyBaseFont();
  QMainWindow::showEvent(event);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == header_panel_ && event->type() == QEvent::Resize) layoutHeader();
  return QMainWindow::eventFilter(watched, event);
}

}  // namespace dovrik
