#include "components/icon_list.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <QtEndian>
#include <cstdint>
#include <cstring>

#include "components/icons_stream.h"
#include "tests/components/recording_tray.h"

namespace dovrik {
namespace {

using testing::SolidIcon;

QRgb PixelOf(const QIcon& icon) {
  return icon.pixmap(16, 16).toImage().pixel(8, 8);
}

TEST(IconListTest, ItemsAtCountAppendsAndOutOfRangeIsAListError) {
  TIconList list;
  int changes = 0;
  list.OnChange = [&](TIconList* sender) {
    EXPECT_EQ(sender, &list);
    ++changes;
  };
  list.SetItems(0, SolidIcon(Qt::red));
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(changes, 1);  // one batch, one notification
  list.SetItems(1, SolidIcon(Qt::green));
  list.SetItems(0, SolidIcon(Qt::blue));
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(PixelOf(list.Items(0)), QColor(Qt::blue).rgb());

  EXPECT_THROW(list.Items(2), EListError);
  EXPECT_THROW(list.Items(-1), EListError);
  EXPECT_THROW(list.SetItems(3, SolidIcon(Qt::red)), EListError);
  EXPECT_THROW(list.Delete(2), EListError);

  changes = 0;
  list.Assign(SolidIcon(Qt::yellow));
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(PixelOf(list.Items(0)), QColor(Qt::yellow).rgb());

  TIconList other;
  other.Add(SolidIcon(Qt::red));
  other.Add(QIcon());
  changes = 0;
  list.Assign(other);
  EXPECT_EQ(list.Count(), 2);
  EXPECT_TRUE(list.Items(1).isNull());
  EXPECT_EQ(changes, 1);
  list.Exchange(0, 1);
  EXPECT_TRUE(list.Items(0).isNull());
  list.Move(1, 0);
  EXPECT_FALSE(list.Items(0).isNull());
  EXPECT_EQ(list.IndexOf(list.Items(0)), 0);
  EXPECT_EQ(list.IndexOf(SolidIcon(Qt::red)), -1);  // another icon object
}

std::int32_t I32At(const QByteArray& b, qsizetype at) {
  return qFromLittleEndian<qint32>(b.constData() + at);
}

TEST(IconListTest, TwoIconsSecondEmptyStreamAndReadBack) {
  TIconList list;
  list.Add(SolidIcon(Qt::red, 32));
  list.Add(QIcon());
  ASSERT_TRUE(list.ShouldStore());
  const QByteArray data = list.WriteData();
  ASSERT_GE(data.size(), 12);
  EXPECT_EQ(I32At(data, 0), 2);
  const std::int32_t s1 = I32At(data, 4);
  ASSERT_GT(s1, 0);
  EXPECT_EQ(std::memcmp(data.constData() + 8, "\0\0\1\0", 4), 0);  // an icon file
  ASSERT_EQ(data.size(), 8 + s1 + 4);
  EXPECT_EQ(I32At(data, 8 + s1), 0);

  TIconList back;
  back.Add(SolidIcon(Qt::blue));  // replaced by the read
  int changes = 0;
  back.OnChange = [&](TIconList*) { ++changes; };
  back.ReadData(data);
  EXPECT_EQ(changes, 1);
  ASSERT_EQ(back.Count(), 2);
  ASSERT_FALSE(back.Items(0).isNull());
  EXPECT_EQ(back.Items(0).availableSizes().value(0), QSize(32, 32));
  EXPECT_EQ(PixelOf(back.Items(0)), QColor(Qt::red).rgb());
  EXPECT_TRUE(back.Items(1).isNull());

  EXPECT_FALSE(TIconList().ShouldStore());
}

QByteArray Le32(std::int32_t v) {
  QByteArray b(4, '\0');
  qToLittleEndian<qint32>(v, b.data());
  return b;
}

TEST(IconListTest, UntrustedStreamsGiveAClearErrorAndAnEmptyList) {
  TIconList good;
  good.Add(SolidIcon(Qt::red));
  const QByteArray valid = good.WriteData();
  const QByteArray icon_file = valid.mid(8);

  // A PNG whose header claims an enormous image.
  QByteArray huge_png = icon_file;
  const qsizetype png_at = qFromLittleEndian<quint32>(icon_file.constData() + 6 + 12);
  qToBigEndian<quint32>(100000, huge_png.data() + png_at + 16);

  // Two directory entries that point at the same image bytes.
  QByteArray shared = icon_file.left(6) + icon_file.mid(6, 16) + icon_file.mid(6);
  qToLittleEndian<quint16>(2, shared.data() + 4);
  for (int entry : {0, 1}) {
    const qsizetype at = 6 + 16 * entry + 12;
    qToLittleEndian<quint32>(qFromLittleEndian<quint32>(shared.constData() + at) + 16,
                             shared.data() + at);
  }

  // Many large images that compress to little: more pixels than a stream may decode in all.
  QImage plain(1024, 1024, QImage::Format_ARGB32);
  plain.fill(Qt::red);
  QByteArray plain_png;
  QBuffer png_buffer(&plain_png);
  png_buffer.open(QIODevice::WriteOnly);
  ASSERT_TRUE(plain.save(&png_buffer, "PNG"));
  const icons_stream::PngImage big{1024, 1024, {plain_png.begin(), plain_png.end()}};
  const icons_stream::Bytes many_big = icons_stream::BuildIco(std::vector(17, big));
  const QByteArray too_many_pixels(reinterpret_cast<const char*>(many_big.data()),
                                   qsizetype(many_big.size()));

  QByteArray bad_dir = icon_file;
  qToLittleEndian<quint32>(0x7fffffff, bad_dir.data() + 6 + 12);  // image offset past the end

  struct Case {
    const char* name;
    QByteArray data;
    const char* says;
  } cases[] = {
      {"empty", QByteArray(), "too short"},
      {"negative count", Le32(-1), "negative entry count"},
      {"huge count", Le32(0x7fffffff) + Le32(0), "exceeds the data"},
      {"oversized size", Le32(1) + Le32(1000) + "abc", "exceeds the data"},
      {"truncated", valid.left(valid.size() - 1), "exceeds the data"},
      {"missing second size", Le32(2) + Le32(0), "exceeds the data"},
      {"trailing bytes", valid + "x", "after the last entry"},
      {"not an icon", Le32(1) + Le32(8) + "abcdefgh", "not an icon file"},
      {"short icon", Le32(1) + Le32(4) + "abcd", "too short for a header"},
      {"image outside", Le32(1) + Le32(int(bad_dir.size())) + bad_dir, "outside the data"},
      {"huge png", Le32(1) + Le32(int(huge_png.size())) + huge_png, "unacceptable size"},
      {"too many pixels", Le32(1) + Le32(int(too_many_pixels.size())) + too_many_pixels,
       "pixels in all"},
      {"shared image bytes", Le32(1) + Le32(int(shared.size())) + shared, "overlaps"},
  };
  for (const Case& c : cases) {
    TIconList list;
    list.Add(SolidIcon(Qt::blue));
    try {
      list.ReadData(c.data);
      ADD_FAILURE() << c.name << ": no error";
    } catch (const EIconError& e) {
      EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos)
          << c.name << ": " << e.what();
    }
    EXPECT_EQ(list.Count(), 0) << c.name;
  }
  TIconList list;
  EXPECT_NO_THROW(list.ReadData(Le32(0)));
  EXPECT_EQ(list.Count(), 0);
  // A size of 0 or less is an empty entry without bytes of its own.
  list.ReadData(Le32(3) + Le32(-5) + valid.mid(4) + Le32(INT32_MIN));
  ASSERT_EQ(list.Count(), 3);
  EXPECT_TRUE(list.Items(0).isNull());
  EXPECT_EQ(PixelOf(list.Items(1)), QColor(Qt::red).rgb());
  EXPECT_TRUE(list.Items(2).isNull());
}

}  // namespace
}  // namespace dovrik
