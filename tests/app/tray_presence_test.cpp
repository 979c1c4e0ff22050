// Without a tray the main window stays reachable: shown at start, minimised on close, until a
// tray appears.
#include "app/tray_presence.h"

#include <gtest/gtest.h>

#include <QCloseEvent>
#include <QWidget>

namespace dovrik {
namespace {

// Closes like the main window: hides itself, and allows the close only when quitting.
class HidingWindow : public QWidget {
 public:
  bool quitting = false;

 protected:
  void closeEvent(QCloseEvent* event) override {
    hide();
    event->setAccepted(quitting);
  }
};

TEST(TrayPresence, NoTrayShowsAndMinimisesUntilATrayAppears) {
  HidingWindow window;
  bool tray = false;
  TrayPresence presence(window, [&] { return tray; });
  int appeared = 0;
  presence.on_tray_appeared = [&] { ++appeared; };
  presence.start();
  EXPECT_TRUE(window.isVisible());
  EXPECT_TRUE(presence.polling());

  EXPECT_FALSE(window.close());
  EXPECT_TRUE(window.isVisible());
  EXPECT_TRUE(window.isMinimized());

  presence.poll();  // still no tray
  EXPECT_TRUE(presence.polling());
  EXPECT_EQ(appeared, 0);
  tray = true;
  presence.poll();
  EXPECT_EQ(appeared, 1);
  EXPECT_FALSE(presence.polling());
  EXPECT_TRUE(presence.trayAvailable());
  window.showNormal();
  EXPECT_FALSE(window.close());
  EXPECT_FALSE(window.isVisible()) << "with a tray a close hides again";
}

TEST(TrayPresence, WithATrayNothingChangesAndNothingPolls) {
  HidingWindow window;
  TrayPresence presence(window, [] { return true; });
  presence.start();
  EXPECT_FALSE(window.isVisible());
  EXPECT_FALSE(presence.polling());
  window.show();
  EXPECT_FALSE(window.close());
  EXPECT_FALSE(window.isVisible());
}

TEST(TrayPresence, OnlyAnAllowedCloseIsAnnounced) {
  HidingWindow window;
  TrayPresence presence(window, [] { return false; });
  int closed = 0;
  QObject::connect(&presence, &TrayPresence::closed, [&] { ++closed; });
  presence.start();
  EXPECT_FALSE(window.close());
  EXPECT_EQ(closed, 0);
  window.quitting = true;
  EXPECT_TRUE(window.close());
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(closed, 1);
}

}  // namespace
}  // namespace dovrik
