#include "model/stored_settings.h"

#include <gtest/gtest.h>

#include "model/registry_layout.h"
#include "settings/registry.h"
#include "tests/settings/isolated_store.h"

namespace dovrik {
namespace {

using StoredSettingsTest = testing::IsolatedStore;

std::string Stored(const char* name) {
  return ReadRegString(kProgramKey, name, "<missing>");
}

SettingsValues Defaults() {
  SettingsValues v;
  ResetToDefaults(v);
  return v;
}

TEST_F(StoredSettingsTest, SaveWritesTheTextAndEncryptionTogetherAndLoadGivesThemBack) {
  SettingsValues values = Defaults();
  values.incoming_port = "995";
  values.user_name = "ann";
  values.log_enabled = false;
  ServerSecurity security;
  security.In = SecurityMode::kStartTls;  // stored, so the port's TLS does not decide
  security.Out = SecurityMode::kTls;
  security.InTrusted = {"AA:01", "", "BB:02"};
  StoredSettings().save(values, security);

  EXPECT_EQ(Stored("Settings"), BuildSettingsText(values));
  EXPECT_EQ(Stored("InSecurity"), "starttls");
  EXPECT_EQ(Stored("OutSecurity"), "tls");
  EXPECT_EQ(Stored("InTrusted"), "AA:01 BB:02");
  EXPECT_EQ(Stored("OutTrusted"), "");
  // A fresh store lays the values out in the order the two separate writes used to.
  const std::string file = StoreText();
  const auto at = [&file](const char* name) { return file.find('"' + std::string(name) + '"'); };
  EXPECT_LT(at("Settings"), at("InSecurity"));
  EXPECT_LT(at("InSecurity"), at("OutSecurity"));
  EXPECT_LT(at("OutSecurity"), at("InTrusted"));
  EXPECT_LT(at("InTrusted"), at("OutTrusted"));
  ASSERT_NE(at("OutTrusted"), std::string::npos);

  SettingsValues current = Defaults();
  current.log_enabled = true;
  const StoredSettingsValue loaded = StoredSettings().load(current);
  EXPECT_TRUE(loaded.found);
  EXPECT_EQ(loaded.read_error, "");
  EXPECT_EQ(BuildSettingsText(loaded.values), BuildSettingsText(values));
  EXPECT_EQ(loaded.security.In, SecurityMode::kStartTls);
  EXPECT_EQ(loaded.security.Out, SecurityMode::kTls);
  EXPECT_EQ(loaded.security.InTrusted, (std::vector<std::string>{"AA:01", "BB:02"}));
  EXPECT_TRUE(loaded.security.OutTrusted.empty());
}

TEST_F(StoredSettingsTest, ATextTheStoreCannotReadIsReportedAndTheDefaultsStand) {
  WriteRegInteger(kProgramKey, "Settings", 7);
  SettingsValues current;
  current.incoming_server = "typed.invalid";
  current.prompt_on_exit = false;  // one of the switches a load leaves alone
  const StoredSettingsValue loaded = StoredSettings().load(current);
  EXPECT_FALSE(loaded.found);
  EXPECT_NE(loaded.read_error, "");
  SettingsValues expected = current;
  ResetToDefaults(expected);
  EXPECT_EQ(BuildSettingsText(loaded.values), BuildSettingsText(expected));
  EXPECT_EQ(loaded.security.In, SecurityForPort(expected.incoming_port));
}

TEST_F(StoredSettingsTest, TrustedCertificatesAreStoredBesideTheStoredChoicesOnly) {
  struct Case {
    const char* what;
    bool text_readable;
    const char* in_security;  // what the stored port implies
  };
  const Case cases[] = {{"port 995 stored", true, "tls"}, {"unreadable text", false, "none"}};
  for (const Case& c : cases) {
    SettingsValues values = Defaults();
    values.incoming_port = "995";
    if (c.text_readable) {
      WriteRegString(kProgramKey, "Settings", BuildSettingsText(values));
    } else {
      WriteRegInteger(kProgramKey, "Settings", 1);
    }
    WriteRegString(kProgramKey, "InSecurity", "");  // none stored: the port decides
    WriteRegString(kProgramKey, "OutSecurity", "starttls");
    StoredSettings().saveTrusted({"CC:03"}, {"DD:04", "EE:05"});
    EXPECT_EQ(Stored("InSecurity"), c.in_security) << c.what;
    EXPECT_EQ(Stored("OutSecurity"), "starttls") << c.what;
    EXPECT_EQ(Stored("InTrusted"), "CC:03") << c.what;
    EXPECT_EQ(Stored("OutTrusted"), "DD:04 EE:05") << c.what;
    if (c.text_readable) {
      EXPECT_EQ(Stored("Settings"), BuildSettingsText(values)) << c.what;
    }
  }
}

TEST_F(StoredSettingsTest, TheLastRecipientIsRememberedWithAReservedDefault) {
  StoredSettings store;
  EXPECT_EQ(store.lastRecipient(), kDefaultRecipient);
  store.setLastRecipient("Bo <bo@localhost>");
  EXPECT_EQ(store.lastRecipient(), "Bo <bo@localhost>");
  EXPECT_EQ(Stored("LASTFRIEND"), "Bo <bo@localhost>");
}

}  // namespace
}  // namespace dovrik
