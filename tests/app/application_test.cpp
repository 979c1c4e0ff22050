// The application object as the program sets it up: the windows' captions stay the program's own
// texts on the way to the window system.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QWidget>
#include <QWindow>

#include "app/program.h"

namespace dovrik {
namespace {

// Qt appends a set display name to every top-level title it passes to X11 or Wayland
// ("Pellory — Dovrik"), so none may be set; the program is found by its desktop file name.
TEST(ApplicationTest, CaptionsReachTheWindowSystemExactly) {
  ConfigureApplication();
  EXPECT_NE(QGuiApplication::applicationDisplayName(), QStringLiteral("Dovrik"));
  EXPECT_EQ(QGuiApplication::desktopFileName(), QStringLiteral("org.dovrik.Dovrik"));
  EXPECT_FALSE(QApplication::quitOnLastWindowClosed());

  for (const QString& caption : {QStringLiteral("Pellory"), QStringLiteral("Dovrik settings")}) {
    QWidget window;
    window.setWindowTitle(caption);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_EQ(window.windowTitle(), caption);
    ASSERT_NE(window.windowHandle(), nullptr);
    EXPECT_EQ(window.windowHandle()->title(), caption);
  }
  QApplication::setQuitOnLastWindowClosed(true);
}

}  // namespace
}  // namespace dovrik
