// The stored encryption choice: texts, the port rule for missing values, the proposed ports, and
// a round trip through an isolated store that leaves the "Settings" text alone.
#include "settings/security_settings.h"

#include <gtest/gtest.h>

#include "settings/registry.h"
#include "tests/settings/isolated_store.h"

namespace dovrik::testing {
namespace {

TEST(SecuritySettingsTest, TextsPortsAndProposals) {
  const std::vector<std::pair<std::string, std::optional<SecurityMode>>> texts = {
      {"none", SecurityMode::kNone},
      {" StartTLS\r\n", SecurityMode::kStartTls},
      {"TLS", SecurityMode::kTls},
      {"ssl", std::nullopt},
      {"", std::nullopt},
      {"tls1.2", std::nullopt}};
  for (const auto& [text, mode] : texts) EXPECT_EQ(SecurityFromText(text), mode) << text;
  for (SecurityMode m : {SecurityMode::kNone, SecurityMode::kStartTls, SecurityMode::kTls})
    EXPECT_EQ(SecurityFromText(SecurityText(m)), m);

  for (const char* port : {"995", "pop3s", " 465 ", "Submissions"})
    EXPECT_EQ(SecurityForPort(port), SecurityMode::kTls) << port;
  for (const char* port : {"110", "pop3", "25", "smtp", "587", "submission", "", "9950"})
    EXPECT_EQ(SecurityForPort(port), SecurityMode::kNone) << port;

  EXPECT_EQ(UsualPort(SecurityMode::kNone, true), "110");
  EXPECT_EQ(UsualPort(SecurityMode::kStartTls, true), "110");
  EXPECT_EQ(UsualPort(SecurityMode::kTls, true), "995");
  EXPECT_EQ(UsualPort(SecurityMode::kNone, false), "25");
  EXPECT_EQ(UsualPort(SecurityMode::kStartTls, false), "587");
  EXPECT_EQ(UsualPort(SecurityMode::kTls, false), "465");
}

class SecurityStoreTest : public IsolatedStore {};

TEST_F(SecurityStoreTest, MissingValuesFollowThePortAndSavedOnesWin) {
  ServerSecurity none = LoadServerSecurity("pop3s", "587");
  EXPECT_EQ(none.In, SecurityMode::kTls);
  EXPECT_EQ(none.Out, SecurityMode::kNone);
  EXPECT_TRUE(none.InTrusted.empty());

  const std::string settings = "127.0.0.1\r\npop3\r\n";  // stands for the 13-line text
  WriteRegString("PELLORY", "Settings", settings);
  ServerSecurity s;
  s.In = SecurityMode::kStartTls;
  s.Out = SecurityMode::kTls;
  s.InTrusted = {"AB:CD", "EF:01"};
  SaveServerSecurity(s);
  const ServerSecurity back = LoadServerSecurity("995", "25");
  EXPECT_EQ(back.In, SecurityMode::kStartTls);
  EXPECT_EQ(back.Out, SecurityMode::kTls);
  EXPECT_EQ(back.InTrusted, s.InTrusted);
  EXPECT_TRUE(back.OutTrusted.empty());
  EXPECT_EQ(ReadRegString("PELLORY", "Settings", ""), settings);
  EXPECT_EQ(ReadRegString("PELLORY", "InSecurity", ""), "starttls");

  // A value the program can't read falls back to the port, as a missing one does.
  WriteRegString("PELLORY", "OutSecurity", "bogus");
  WriteRegInteger("PELLORY", "InSecurity", 2);
  const ServerSecurity odd = LoadServerSecurity("995", "25");
  EXPECT_EQ(odd.In, SecurityMode::kTls);
  EXPECT_EQ(odd.Out, SecurityMode::kNone);
}

}  // namespace
}  // namespace dovrik::testing
