// Fonts as groups of values in the store, and their conversion for display.
#include "desktop/font_registry.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QPalette>
#include <climits>

#include "settings/registry.h"
#include "settings/stored_values.h"
#include "tests/settings/isolated_store.h"

namespace dovrik {
namespace {

constexpr char kKey[] = "PELLORY\\BaseFont";
using FontStore = testing::IsolatedStore;

struct StyleCase {
  const char* stored;
  FontStyles loaded;
};
class FontStyleText : public FontStore, public ::testing::WithParamInterface<StyleCase> {};

TEST_P(FontStyleText, LoadsAsTheStylesItNames) {
  WriteRegString(kKey, "Style", GetParam().stored);
  FontValue font;
  ASSERT_TRUE(LoadFontFromRegistry(font, kKey));
  EXPECT_EQ(font.styles(), GetParam().loaded);
}
INSTANTIATE_TEST_SUITE_P(Styles, FontStyleText,
                         ::testing::Values(StyleCase{"V", {true, false, false, false}},
                                           StyleCase{"x0y", {true, false, true, false}},
                                           StyleCase{"00000000e", {}}, StyleCase{"", {}},
                                           StyleCase{"Vemo", {true, true, true, true}},
                                           StyleCase{"0e0", {false, true, false, false}}),
                         [](const auto& info) { return "s" + std::to_string(info.index); });

TEST_F(FontStore, MissingKeyGivesTheDefaultFont) {
  FontValue font(96);
  font.setName("Other");
  font.setStyles({true, true, true, true});
  ASSERT_TRUE(LoadFontFromRegistry(font, kKey));
  EXPECT_EQ(font, FontValue(FontValue::screenPixelsPerInch()));
  EXPECT_EQ(font.name(), "MS Sans Serif");
  EXPECT_EQ(font.size(), 8);
  EXPECT_EQ(font.color(), kColorWindowText);
  EXPECT_EQ(font.charSet(), 1);
  EXPECT_EQ(font.pitch(), FontPitch::kDefault);
  EXPECT_EQ(font.styles(), FontStyles{});
}

TEST_F(FontStore, SizeIsReadAfterHeightAndDecides) {
  EXPECT_EQ(FontValue(96).height(), -11);  // 8 points at 96 dots per inch
  WriteRegInteger(kKey, "Height", -20);
  WriteRegInteger(kKey, "Size", 8);
  FontValue font;
  LoadFontFromRegistry(font, kKey);
  EXPECT_EQ(font.size(), 8);
  EXPECT_EQ(font.height(), -MulDiv(8, FontValue::screenPixelsPerInch(), 72));
  FontValue at96(96);
  at96.setHeight(-20);
  EXPECT_EQ(at96.size(), 15);
}

TEST_F(FontStore, SaveWritesEveryValueWithItsTypeAndLoadGivesItBack) {
  FontValue font(FontValue::screenPixelsPerInch());
  font.setName("Courier");
  font.setSize(13);
  font.setColor(0x00336699);
  font.setCharSet(204);
  font.setPitch(FontPitch::kFixed);
  font.setStyles({.bold = true, .strike_out = true});
  ASSERT_TRUE(SaveFontToRegistry(font, kKey));

  EXPECT_EQ(ReadRegString(kKey, "Style", ""), "V00o");
  EXPECT_EQ(ReadRegString(kKey, "Name", ""), "Courier");
  EXPECT_EQ(ReadRegInteger(kKey, "CharSet", 0), 204);
  EXPECT_EQ(ReadRegInteger(kKey, "Color", 0), 0x00336699);
  EXPECT_EQ(ReadRegInteger(kKey, "Height", 0), font.height());
  EXPECT_EQ(ReadRegInteger(kKey, "Pitch", 0), 2);
  EXPECT_EQ(ReadRegInteger(kKey, "Size", 0), 13);
  FontValue loaded;
  LoadFontFromRegistry(loaded, kKey);
  EXPECT_EQ(loaded, font);

  SaveFontToRegistry(FontValue(), kKey);  // the system colour keeps its bits
  EXPECT_EQ(static_cast<std::uint32_t>(ReadRegInteger(kKey, "Color", 0)), 0x80000008u);
}

TEST_F(FontStore, AValueOfTheWrongTypeRaisesAndLeavesTheFontAlone) {
  WriteRegString(kKey, "Size", "8");
  FontValue font(96);
  font.setName("Kept");
  EXPECT_THROW(LoadFontFromRegistry(font, kKey), ERegistryException);
  EXPECT_EQ(font.name(), "Kept");
}

TEST(FontMulDiv, RoundsHalvesAwayFromZeroAndGivesMinusOneWhenTheResultDoesNotFit) {
  struct Case {
    std::int32_t a, b, c, result;
  } cases[] = {
      {8, 96, 72, 11},
      {-20, 72, 96, -15},
      {1, 3, 2, 2},
      {-1, 3, 2, -2},
      {3, 1, -2, -2},
      {5, 7, 0, -1},
      {INT32_MAX, 72, 96, 1610612735},
      {INT32_MAX, 96, 72, -1},
      // 2^31 exactly: one past the largest value whose negation is defined.
      {1610612736, 96, 72, -1},
      {-1610612736, 96, 72, -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MulDiv(c.a, c.b, c.c), c.result) << c.a << " * " << c.b << " / " << c.c;
  }
  // A stored size that far out loads without an overflow in the height.
  FontValue font(96);
  font.setSize(1610612736);
  EXPECT_EQ(font.height(), 1);
}

TEST(FontDisplay, ConvertsToAndFromQtFontsAndColours) {
  FontValue font(96);
  font.setName("Arial");
  font.setSize(11);
  font.setStyles({.italic = true, .underline = true});
  font.setPitch(FontPitch::kFixed);
  const QFont qfont = font.toQFont();
  EXPECT_EQ(qfont.family(), "Arial");
  EXPECT_EQ(qfont.pointSize(), 11);
  EXPECT_TRUE(!qfont.bold() && qfont.italic() && qfont.underline() && !qfont.strikeOut());
  EXPECT_TRUE(qfont.fixedPitch());
  FontValue back(96);
  back.assignQFont(qfont);
  EXPECT_EQ(back, font);

  EXPECT_EQ(FontValue::toQColor(0x000000ff), QColor(255, 0, 0));  // 0x00BBGGRR
  EXPECT_EQ(FontValue::toQColor(0x00ff0000), QColor(0, 0, 255));
  EXPECT_EQ(FontValue::toQColor(kColorWindowText),
            QGuiApplication::palette().color(QPalette::Text));
  EXPECT_EQ(FontValue::fromQColor(QColor(1, 2, 3)), 0x00030201u);
}

// The font's defaults stand twice until the font routines read the table: they must agree.
TEST_F(FontStore, DefaultsAgreeWithTheTableOfStoredValues) {
  const FontValue font(96);
  EXPECT_EQ(font.name(), stored::kFontName.default_text);
  EXPECT_EQ(font.size(), stored::kFontSize.default_dword);
  EXPECT_EQ(static_cast<std::int32_t>(font.color()), stored::kFontColor.default_dword);
  EXPECT_EQ(font.charSet(), stored::kFontCharSet.default_dword);
  EXPECT_EQ(static_cast<std::int32_t>(font.pitch()), stored::kFontPitch.default_dword);
  EXPECT_EQ(EncodeFontStyle(font.styles()), stored::kFontStyle.default_text);
  // The rows name the values the font routines write.
  SaveFontToRegistry(font, stored::kBaseFontKey);
  for (const stored::StoredValue& row : stored::kStoredValues) {
    if (row.key != stored::kBaseFontKey) continue;
    RegValue value;
    EXPECT_EQ(RegistryStore::ForCurrentUser().Find(RegistryKeyPath(row.key), row.name, value),
              RegLookup::kFound)
        << row.name;
    EXPECT_EQ(value.name, row.name);
    EXPECT_EQ(value.type == RegType::kDword, row.type == stored::StoredType::kDword) << row.name;
  }
}

}  // namespace
}  // namespace dovrik
