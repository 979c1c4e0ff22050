// The date component and the build date it carries.
#include "components/lc_date.h"

#include <gtest/gtest.h>

#include <ctime>

namespace dovrik {
namespace {

TEST(TLCDate, MadeInCodeReadsZeroAndKeepsWhatItIsGiven) {
  TLCDate date;
  EXPECT_EQ(date.LCDate(), 0.0);
  EXPECT_TRUE(date.AU_LCD);
  date.SetLCDate(35929.52034837963);
  EXPECT_EQ(date.LCDate(), 35929.52034837963);
  EXPECT_EQ(date.LCDate(), 35929.52034837963);
}

TEST(TLCDate, UnixSecondsBecomeDaysSince1899) {
  EXPECT_EQ(DateTimeFromUnixSeconds(0, TimeZone::kUtc), 25569.0);
  // 14 May 1998 12:29:18 (the stored value also holds 0.1 s)
  EXPECT_NEAR(DateTimeFromUnixSeconds(895148958, TimeZone::kUtc), 35929.52034837963, 0.2 / 86400);
  EXPECT_EQ(DateTimeFromUnixSeconds(-2209161600, TimeZone::kUtc), 0.0);    // 1899-12-30
  EXPECT_EQ(DateTimeFromUnixSeconds(951782400, TimeZone::kUtc), 36585.0);  // 2000-02-29
}

TEST(TLCDate, CarriesTheBuildDateInLocalTime) {
  const std::int64_t epoch = TLCDate::BuildEpochSeconds();
  if (epoch == 0) GTEST_SKIP() << "built without a commit date or SOURCE_DATE_EPOCH";
  EXPECT_LE(epoch, static_cast<std::int64_t>(std::time(nullptr)));
  const TLCDate date = TLCDate::WithBuildDate();
  EXPECT_EQ(date.LCDate(), DateTimeFromUnixSeconds(epoch, TimeZone::kLocal));
  EXPECT_EQ(date.LCDate(), TLCDate::WithBuildDate().LCDate());
}

}  // namespace
}  // namespace dovrik
