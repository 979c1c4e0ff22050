#include "ui/compose_window.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QStringDecoder>
#include <QTextCursor>
#include <QToolButton>

#include "model/compose_text.h"
#include "model/mail_date.h"
#include "ui/desktop.h"
#include "ui/warning_paint_box.h"

namespace dovrik {
namespace {

constexpr int kStripWidth = 49;

QToolButton* FlatButton(QWidget* parent, const char* name, const QString& caption, int top) {
  auto* button = new QToolButton(parent);
  button->setObjectName(name);
  button->setText(caption);
  button->setAccessibleName(caption);
  button->setAutoRaise(true);  // flat until the pointer is over it
  button->setFocusPolicy(Qt::NoFocus);
  button->setGeometry(4, top, 41, 22);
  return button;
}

// The composed bytes as text for the editor: UTF-8 when they are valid UTF-8, else Latin-1 (one
// character per byte, nothing lost); every line break becomes the editor's own.
QString ShownText(const std::string& bytes, bool& latin1) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = utf8(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
  latin1 = utf8.hasError();
  if (latin1) text = QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
  text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  if (text.endsWith(QLatin1Char('\n'))) text.chop(1);  // the editor ends the last line itself
  return text;
}

bool FitsLatin1(const QString& text) {
  for (QChar c : text) {
    if (c.unicode() > 0xFF) return false;
  }
  return true;
}

}  // namespace

ComposeWindow::ComposeWindow(Desktop& desktop, std::function<std::string()> sender_text,
                             QWidget* parent)
    : QDialog(parent), desktop_(desktop), sender_text_(std::move(sender_text)), now_(NowDateTime) {
  setObjectName("Form3");
  setWindowTitle(ComposeCaption(false));
  setAccessibleName(ComposeCaption(false));
  resize(412, 293);

  auto* panel = new QFrame(this);  // Panel1: no bevel
  panel->setObjectName("Panel1");
  panel->setFrameShape(QFrame::NoFrame);
  panel->setFixedWidth(kStripWidth);
  send_ = FlatButton(panel, "SpeedButton1", "Send", 4);
  ignore_ = FlatButton(panel, "SpeedButton2", "Ignore", 28);
  ignore_->setToolTip("Cancel");
  pb1_ = new WarningPaintBox(panel);
  pb1_->move(4, 56);

  memo_ = new QPlainTextEdit(this);
  memo_->setObjectName("Memo1");
  memo_->setAccessibleName("Message");
  memo_->setLineWrapMode(QPlainTextEdit::NoWrap);
  memo_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memo_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memo_->setTabChangesFocus(false);  // Tab types a tab

  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(panel);
  layout->addWidget(memo_, 1);

  connect(send_, &QToolButton::clicked, this, &QDialog::accept);
  connect(ignore_, &QToolButton::clicked, this, &QDialog::reject);
}

ComposeWindow::~ComposeWindow() = default;

bool ComposeWindow::compose(const std::string& subject, const std::string& to,
                            const std::string& body, bool is_reply) {
  const std::string composed = ComposeText(sender_text_ ? sender_text_() : std::string(), to,
                                           subject, MailDate(now_()), body, is_reply);
  memo_->setPlainText(ShownText(composed, shown_as_latin1_));
  memo_->moveCursor(QTextCursor::Start);
  memo_->setFocus();
  setWindowTitle(ComposeCaption(is_reply));
  setAccessibleName(ComposeCaption(is_reply));
  setResult(QDialog::Rejected);
  return desktop_.runModal(*this) == QDialog::Accepted;
}

std::string ComposeWindow::text() const {
  QString text = memo_->document()->toRawText();  // keeps no-break spaces, unlike toPlainText
  if (text.isEmpty()) return {};
  text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
  text.replace(QChar::LineSeparator, QLatin1Char('\n'));
  text.replace(QLatin1String("\n"), QLatin1String("\r\n"));
  text.append(QLatin1String("\r\n"));
  const QByteArray bytes = shown_as_latin1_ && FitsLatin1(text) ? text.toLatin1() : text.toUtf8();
  return bytes.toStdString();
}

QPlainTextEdit& ComposeWindow::textArea() {
  return *memo_;
}

void ComposeWindow::setClock(std::function<double()> now) {
  now_ = std::move(now);
}

// Keys that reach the window rather than the text area (the text area keeps Enter and Tab for
// itself): Enter sends, Esc cancels.
void ComposeWindow::keyPressEvent(QKeyEvent* event) {
  const bool plain =
      !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
  if (plain && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
    accept();
  } else if (plain && event->key() == Qt::Key_Escape) {
    reject();
  } else {
    QDialog::keyPressEvent(event);
  }
}

}  // namespace dovrik
