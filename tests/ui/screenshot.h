// Writes a picture of a widget into the build's artefacts folder (DOVRIK_ARTEFACTS), for people to
// look at; tests that take one still pass when the folder is not given.
#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QPixmap>
#include <QWidget>

namespace dovrik::testing {

inline void SaveScreenshot(QWidget& widget, const QString& file_name) {
  const QString folder = qEnvironmentVariable("DOVRIK_ARTEFACTS");
  if (folder.isEmpty()) return;
  ASSERT_TRUE(QDir().mkpath(folder));
  const QPixmap picture = widget.grab();
  ASSERT_FALSE(picture.isNull());
  EXPECT_TRUE(picture.save(QDir(folder).filePath(file_name), "PNG")) << file_name.toStdString();
}

}  // namespace dovrik::testing
