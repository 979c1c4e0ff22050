// The main window's widgets and menus, built once at creation: every widget and item carries its
// component name as objectName and its caption as accessible name. What they show is decided by
// the presenter (see main_window.cpp).
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QShortcut>
#include <QStatusBar>
#include <QVBoxLayout>

#include "ui/main_window.h"
#include "ui/message_tab_bar.h"
#include "ui/status_panels.h"

namespace dovrik {

QAction* MainWindow::addItem(QMenu* menu, const char* name, const QString& caption) {
  auto* item = new QAction(caption, menu);
  item->setObjectName(name);
  menu->addAction(item);
  actions_[name] = item;
  return item;
}

void MainWindow::createMenus() {
  QMenuBar* bar = menuBar();
  bar->setObjectName("MM1");
  auto* check = new QAction("&Check Now", bar);
  check->setObjectName("CheckNow2");
  actions_["CheckNow2"] = check;
  bar->addAction(check);
  QMenu* more = bar->addMenu("&More");
  more->setObjectName("Else1Menu");
  more->menuAction()->setObjectName("Else1");
  actions_["Else1"] = more->menuAction();
  addItem(more, "Settings2", "&Settings");
  more->addSeparator()->setObjectName("N3");
  for (auto [name, caption] : {std::pair{"GetMessage1", "&Get Message"},
                               {"Reply1", "&Reply"},
                               {"Saveas1", "Sa&ve as..."},
                               {"Delete1", "&Delete"},
                               {"Abort1", "&Abort"}}) {
    addItem(more, name, caption)->setEnabled(false);
  }
  more->addSeparator()->setObjectName("N4");
  addItem(more, "Newmessage1", "&New message");
  more->addSeparator()->setObjectName("N5");
  addItem(more, "Font1", "&Font");
  for (auto [name, caption] : {std::pair{"Hide1", "&Hide"}, {"Exit2", "&Destroy"}}) {
    auto* item = new QAction(caption, bar);
    item->setObjectName(name);
    actions_[name] = item;
    bar->addAction(item);
  }

  tray_menu_ = new QMenu(this);
  tray_menu_->setObjectName("PM1");
  addItem(tray_menu_, "Active1", "Active")->setCheckable(true);
  tray_menu_->addSeparator()->setObjectName("N2");
  addItem(tray_menu_, "Checknow1", "Check now");
  addItem(tray_menu_, "Settings1", "Settings");
  tray_menu_->addSeparator()->setObjectName("N1");
  addItem(tray_menu_, "Exit1", "Exit");
  for (auto& [name, item] : actions_) {
    if (!item->text().isEmpty()) item->setToolTip(QString(item->text()).remove('&'));
  }
}

QAction* MainWindow::action(const char* name) const {
  auto it = actions_.find(name);
  return it == actions_.end() ? nullptr : it->second;
}

void MainWindow::createViews() {
  auto* central = new QWidget(this);
  central->setObjectName("TC1Area");
  auto* column = new QVBoxLayout(central);
  column->setContentsMargins(2, 2, 2, 0);
  column->setSpacing(0);

  tabs_ = new MessageTabBar(central);
  tabs_->setObjectName("TC1");
  tabs_->setAccessibleName("Messages");
  column->addWidget(tabs_);

  auto* page = new QFrame(central);
  page->setObjectName("TC1Page");
  page->setFrameShape(QFrame::StyledPanel);
  auto* page_column = new QVBoxLayout(page);
  page_column->setContentsMargins(2, 2, 2, 2);
  page_column->setSpacing(0);
  column->addWidget(page, 1);

  header_panel_ = new QWidget(page);
  header_panel_->setObjectName("Panel3");
  header_panel_->setAccessibleName("Message header");
  header_panel_->hide();
  header_panel_->installEventFilter(this);
  page_column->addWidget(header_panel_);
  for (auto [name, caption] : {std::pair{"LDateC", "DATE:"},
                               {"LFromC", "FROM:"},
                               {"LToC", "TO:"},
                               {"LSubjectC", "SUBJECT:"}}) {
    auto* label = new QLabel(caption, header_panel_);
    label->setObjectName(name);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    header_labels_[name] = label;
  }
  for (const char* name : {"LDate", "LFrom", "LTo", "LSubject"}) {
    auto* label = new QLabel(header_panel_);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    header_labels_[name] = label;
  }
  QFont bold = header_labels_["LFrom"]->font();
  bold.setBold(true);
  header_labels_["LFrom"]->setFont(bold);
  auto* image = new QLabel(header_panel_);  // holds the new-mail picture; never shown
  image->setObjectName("Image1");
  image->setPixmap(new_mail_icon_.pixmap(32, 32));
  image->setGeometry(0, 0, 32, 32);
  image->hide();

  text_view_ = new QPlainTextEdit(page);
  text_view_->setObjectName("Memo2");
  text_view_->setAccessibleName("Message text");
  text_view_->setReadOnly(true);
  text_view_->setLineWrapMode(QPlainTextEdit::NoWrap);
  text_view_->setWordWrapMode(QTextOption::NoWrap);
  text_view_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  text_view_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  page_column->addWidget(text_view_, 1);
  setCentralWidget(central);

  connect(tabs_, &MessageTabBar::currentChanged, this, [this](int index) {
    if (!syncing_tabs_) presenter_->selectTab(index);
  });
  // Ctrl+PgUp / Ctrl+PgDn switch tabs wherever the focus is inside the window.
  auto* previous = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_PageUp), this);
  auto* next = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_PageDown), this);
  connect(previous, &QShortcut::activated, this,
          [this] { tabs_->setCurrentIndex(tabs_->currentIndex() - 1); });
  connect(next, &QShortcut::activated, this,
          [this] { tabs_->setCurrentIndex(tabs_->currentIndex() + 1); });
}

void MainWindow::createStatusBar() {
  QStatusBar* bar = statusBar();
  bar->setObjectName("SB1");
  bar->setSizeGripEnabled(false);
  status_panels_ = new StatusPanels({150, 100, 150, 100}, bar);
  status_panels_->setObjectName("SB1Panels");
  bar->addWidget(status_panels_, 1);
  status_bar_ = bar;
}

}  // namespace dovrik
