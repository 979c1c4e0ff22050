// Points $XDG_CONFIG_HOME at a fresh temporary folder for the life of a test, so every test has
// its own settings store.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "settings/registry.h"
#include "settings/registry_store.h"

namespace dovrik::testing {

class IsolatedStore : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* old = std::getenv("XDG_CONFIG_HOME")) saved_ = old;
    std::string pattern = (std::filesystem::temp_directory_path() / "dovrik-store-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    ::setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
    RegistryRoot = kHkeyCurrentUser;
    RegistryBaseKey = "Software\\Brackwater\\Projects\\";
  }
  void TearDown() override {
    RegistryRoot = kHkeyCurrentUser;
    RegistryBaseKey = "Software\\Brackwater\\Projects\\";
    if (saved_) {
      ::setenv("XDG_CONFIG_HOME", saved_->c_str(), 1);
    } else {
      ::unsetenv("XDG_CONFIG_HOME");
    }
    std::error_code ignored;  // a leftover temp folder must not fail the test
    std::filesystem::remove_all(dir_, ignored);
  }

  std::filesystem::path StoreFile() const { return RegistryStore::ForCurrentUser().FilePath(); }
  std::string StoreText() const {
    std::ifstream in(StoreFile(), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  void SetStoreText(const std::string& text) const {
    std::filesystem::create_directories(StoreFile().parent_path());
    std::ofstream(StoreFile(), std::ios::binary) << text;
  }

  std::filesystem::path dir_;

 private:
  std::optional<std::string> saved_;
};

}  // namespace dovrik::testing
