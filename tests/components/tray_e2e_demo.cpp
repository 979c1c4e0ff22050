// A tray icon with a menu on the real notification area, for the end-to-end desktop test. It
// reports on stdout, one line each: the icon's screen geometry once it is in the tray, every
// click, the menu showing, and the actions chosen.
#include <QApplication>
#include <QEvent>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QTimer>
#include <cstdio>

#include "components/popup_menu.h"
#include "components/rx_tray.h"

namespace {

void Say(const QString& line) {
  std::printf("%s\n", line.toUtf8().constData());
  std::fflush(stdout);
}

QIcon EnvelopeIcon() {
  QPixmap pixmap(32, 32);
  pixmap.fill(QColor(255, 200, 0));
  QPainter p(&pixmap);
  p.setPen(QPen(Qt::black, 2));
  p.setBrush(Qt::white);
  p.drawRect(4, 8, 24, 16);
  p.drawLine(4, 8, 16, 18);
  p.drawLine(28, 8, 16, 18);
  return QIcon(pixmap);
}

// Says "menu painted" once the menu has been painted (after the paint, not before it).
class PaintWatch : public QObject {
 public:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint && !told_) {
      told_ = true;
      QTimer::singleShot(0, [] { Say("menu painted"); });
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  bool told_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  app.setQuitOnLastWindowClosed(false);

  dovrik::TPopupMenu menu;
  for (const char* name : {"Check now", "Show", "Exit"}) {
    QAction* action = menu.addAction(name);
    QObject::connect(action, &QAction::triggered, [name] { Say(QString("action ") + name); });
  }
  menu.setDefaultAction(menu.actions().value(1));
  QObject::connect(menu.actions().value(2), &QAction::triggered, &app, &QApplication::quit);
  QObject::connect(&menu, &QMenu::aboutToShow, [] { Say("menu shown"); });
  PaintWatch paint_watch;
  menu.installEventFilter(&paint_watch);

  dovrik::TRxTray tray;
  tray.SetHint("Not checked yet|Dovrik tray test");
  tray.SetPopupMenu(&menu);
  tray.OnClick = [](dovrik::TRxTray*, Qt::MouseButton button, Qt::KeyboardModifiers, int x, int y) {
    Say(QString("OnClick %1 %2 %3").arg(button == Qt::LeftButton ? "left" : "right").arg(x).arg(y));
  };
  tray.OnDblClick = [](dovrik::TRxTray*) { Say("OnDblClick"); };
  tray.SetIcon(EnvelopeIcon());
  Say(QString("tray available %1, in tray %2")
          .arg(QSystemTrayIcon::isSystemTrayAvailable())
          .arg(tray.InTray()));

  // Report where the icon landed once the tray host has embedded it.
  auto& icon = static_cast<dovrik::QtTrayAdapter&>(tray.Adapter()).icon();
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (!tray.InTray()) tray.SetHint(tray.Hint() + " ");  // a refresh tries the add again
    const QRect g = icon.geometry();
    if (g.width() > 0 && g.height() > 0) {
      Say(QString("geometry %1 %2 %3 %4").arg(g.x()).arg(g.y()).arg(g.width()).arg(g.height()));
      poll.stop();
    }
  });
  poll.start(50);
  QTimer::singleShot(50000, &app, &QApplication::quit);  // never outlive the test
  return app.exec();
}
