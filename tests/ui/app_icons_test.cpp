#include "ui/app_icons.h"

#include <gtest/gtest.h>

#include <QImage>

namespace dovrik {
namespace {

// Pixels that are clearly red (the new-mail dot) and clearly visible at all.
struct Census {
  int red = 0;
  int opaque = 0;
};

Census Count(const QIcon& icon, int size) {
  const QImage image = icon.pixmap(size, size).toImage().convertToFormat(QImage::Format_ARGB32);
  Census census;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      if (c.alpha() < 128) continue;
      ++census.opaque;
      if (c.red() > 180 && c.green() < 90 && c.blue() < 90) ++census.red;
    }
  return census;
}

TEST(AppIcons, BothAreDrawnAtEverySizeAndTheNewMailOneStandsOutAtTraySizes) {
  const QIcon plain = ApplicationIcon();
  const QIcon new_mail = NewMailIcon();
  ASSERT_FALSE(plain.isNull());
  ASSERT_FALSE(new_mail.isNull());
  for (int size : kIconSizes) {
    EXPECT_TRUE(plain.availableSizes().contains(QSize(size, size))) << size;
    EXPECT_TRUE(new_mail.availableSizes().contains(QSize(size, size))) << size;
  }
  for (int size : {16, 22}) {
    const Census a = Count(plain, size);
    const Census b = Count(new_mail, size);
    EXPECT_GT(a.opaque, size * size / 3) << size;
    EXPECT_GT(b.opaque, size * size / 3) << size;
    EXPECT_EQ(a.red, 0) << size;
    // The red dot covers a good part of the small icon.
    EXPECT_GT(b.red, size * size / 10) << size;
  }
}

}  // namespace
}  // namespace dovrik
