#include "ui/desktop.h"

#include <gtest/gtest.h>

#include <QTimer>

namespace dovrik {
namespace {

TEST(QtDesktop, RunModalReturnsHowTheDialogEnded) {
  QtDesktop desktop;
  for (int result : {QDialog::Accepted, QDialog::Rejected}) {
    QDialog dialog;
    bool shown = false;
    // Runs inside the dialog's own event loop, once it has started.
    QTimer::singleShot(0, &dialog, [&] {
      shown = dialog.isVisible();
      dialog.done(result);
    });
    EXPECT_EQ(desktop.runModal(dialog), result);
    EXPECT_TRUE(shown);
    EXPECT_FALSE(dialog.isVisible());
  }
}

}  // namespace
}  // namespace dovrik
