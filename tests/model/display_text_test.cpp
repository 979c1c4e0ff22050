#include "model/display_text.h"

#include <gtest/gtest.h>

#include <string>

namespace dovrik {
namespace {

using namespace std::string_literals;

TEST(DisplayText, ValidUtf8IsDecodedAnythingElseIsLatin1WithEveryByteKept) {
  struct Case {
    std::string bytes;
    QString shown;
  };
  const Case cases[] = {
      {"", QString()},
      {"plain", QStringLiteral("plain")},
      {"Gr\xC3\xBC\xC3\x9F"
       "e",
       QStringLiteral("Grüße")},
      {"Gr\xFC\xDF"
       "e",
       QStringLiteral("Grüße")},                                        // Latin-1
      {"\xC3\xBC and \xFC", QString::fromLatin1("\xC3\xBC and \xFC")},  // mixed: all Latin-1
      {"\xC0\xAF", QString::fromLatin1("\xC0\xAF")},                    // overlong "/"
      {"\xE2\x82", QString::fromLatin1("\xE2\x82")},                    // cut short
      {"\xED\xA0\x80", QString::fromLatin1("\xED\xA0\x80")},            // a lone surrogate
      {"a\0b"s, QString(QStringLiteral("a")) + QChar(0) + QStringLiteral("b")},
      {"\xFF\0"s, QString(QChar(0xFF)) + QChar(0)},
  };
  for (const Case& c : cases) {
    const QString shown = DisplayText(c.bytes);
    EXPECT_EQ(shown, c.shown) << testing::PrintToString(c.bytes);
    EXPECT_EQ(shown.size(), c.shown.size()) << testing::PrintToString(c.bytes);
  }
}

TEST(DisplayText, TextBackToBytesIsUtf8AndKeepsNuls) {
  EXPECT_EQ(BytesFromText(QStringLiteral("Grüße")),
            "Gr\xC3\xBC\xC3\x9F"
            "e");
  EXPECT_EQ(BytesFromText(QString(QStringLiteral("a")) + QChar(0) + QStringLiteral("b")), "a\0b"s);
  const std::string utf8 = "\xE2\x82\xAC 100 \xF0\x9F\x93\xA8";
  EXPECT_EQ(BytesFromText(DisplayText(utf8)), utf8);
}

}  // namespace
}  // namespace dovrik
