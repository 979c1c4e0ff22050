// The table of stored values: rows never collide, and each lands in the store exactly where the
// program has always kept it.
#include "settings/stored_values.h"

#include <gtest/gtest.h>

#include "settings/registry.h"
#include "tests/settings/isolated_store.h"

namespace dovrik::stored {
namespace {

TEST(StoredValues, EachRowHasAPlaceOfItsOwnAndIsFoundInAnyCase) {
  for (std::size_t i = 0; i < kStoredValues.size(); ++i) {
    const StoredValue& row = kStoredValues[i];
    for (std::size_t j = i + 1; j < kStoredValues.size(); ++j) {
      EXPECT_FALSE(RegNameEqual(row.key, kStoredValues[j].key) &&
                   RegNameEqual(row.name, kStoredValues[j].name))
          << row.key << ' ' << row.name;
    }
    std::string lower(row.name);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(FindStoredValue(row.key, lower), &row) << row.name;
  }
  const StoredValue* size = FindStoredValue("pellory\\basefont", "SIZE");
  ASSERT_NE(size, nullptr);
  EXPECT_EQ(size->name, "Size");
  EXPECT_EQ(size->type, StoredType::kDword);
  EXPECT_EQ(FindStoredValue(kProgramKey, "Size"), nullptr);  // a font value, not the program's
  EXPECT_EQ(FindStoredValue(kBaseFontKey, "Settings"), nullptr);
  EXPECT_EQ(FindStoredValue(kProgramKey, "Password"), nullptr);
}

using StoredValuesStore = testing::IsolatedStore;

TEST_F(StoredValuesStore, MissingRowsReadTheirDefaults) {
  EXPECT_EQ(ReadStored(kSettings), "");
  EXPECT_EQ(ReadStored(kLastFriend), "friend@example.invalid");
  EXPECT_EQ(ReadStored(kFontName), "MS Sans Serif");
  EXPECT_EQ(ReadStored(kFontColor), static_cast<std::int32_t>(0x80000008u));
  EXPECT_EQ(ReadStored(kFontSize), 8);
}

TEST_F(StoredValuesStore, EveryRowLandsWhereTheProgramHasAlwaysKeptIt) {
  WriteStored(kSettings, "in\r\n110");
  WriteStored(kLastFriend, "A <a@example.invalid>");
  WriteStored(kInSecurity, "tls");
  WriteStored(kOutSecurity, "starttls");
  WriteStored(kInTrusted, "AB:CD EF:01");
  WriteStored(kOutTrusted, "");
  WriteStored(kFontCharSet, 204);
  WriteStored(kFontColor, static_cast<std::int32_t>(0x80000008u));
  WriteStored(kFontHeight, -13);
  WriteStored(kFontName, "Courier");
  WriteStored(kFontPitch, 2);
  WriteStored(kFontSize, 10);
  WriteStored(kFontStyle, "V00o");
  EXPECT_EQ(StoreText(),
            "Dovrik settings store 1\n"
            "\n[HKEY_CURRENT_USER\\Software]\n"
            "\n[HKEY_CURRENT_USER\\Software\\Brackwater]\n"
            "\n[HKEY_CURRENT_USER\\Software\\Brackwater\\Projects]\n"
            "\n[HKEY_CURRENT_USER\\Software\\Brackwater\\Projects\\PELLORY]\n"
            "\"Settings\"=\"in\\r\\n110\"\n"
            "\"LASTFRIEND\"=\"A <a@example.invalid>\"\n"
            "\"InSecurity\"=\"tls\"\n"
            "\"OutSecurity\"=\"starttls\"\n"
            "\"InTrusted\"=\"AB:CD EF:01\"\n"
            "\"OutTrusted\"=\"\"\n"
            "\n[HKEY_CURRENT_USER\\Software\\Brackwater\\Projects\\PELLORY\\BaseFont]\n"
            "\"CharSet\"=dword:000000cc\n"
            "\"Color\"=dword:80000008\n"
            "\"Height\"=dword:fffffff3\n"
            "\"Name\"=\"Courier\"\n"
            "\"Pitch\"=dword:00000002\n"
            "\"Size\"=dword:0000000a\n"
            "\"Style\"=\"V00o\"\n");
  // A group written at once lands the same way as the single writes.
  WriteRegValues(kProgramKey, {StoredRegValue(kLastFriend, "B"), StoredRegValue(kInTrusted, "")});
  EXPECT_EQ(ReadRegString("PELLORY", "LASTFRIEND", ""), "B");
  EXPECT_EQ(ReadStored(kInTrusted), "");
  EXPECT_EQ(ReadStored(kFontHeight), -13);
}

}  // namespace
}  // namespace dovrik::stored
