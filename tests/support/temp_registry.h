// Gives each test its own registry file in its own temporary folder.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

#include "temp_dir.h"
#include "winplatform/registry_hooks.h"

class TempRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("VELT_REGISTRY", m_file.c_str(), 1);
    VeltRegistryReset();
  }

  void TearDown() override {
    VeltRegistryReset();
    unsetenv("VELT_REGISTRY");
  }

  static LSTATUS tryCreate(HKEY root, const char* path, HKEY* key, DWORD* disposition = nullptr) {
    return RegCreateKeyExA(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                           key, disposition);
  }

  // Creates the key (and its parents) below the root and returns an open handle.
  static HKEY create(const char* path, HKEY root = HKEY_CURRENT_USER) {
    HKEY key = nullptr;
    EXPECT_EQ(tryCreate(root, path, &key), ERROR_SUCCESS) << path;
    return key;
  }

  static void setString(HKEY key, const char* name, const std::string& text) {
    ASSERT_EQ(RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                             static_cast<DWORD>(text.size() + 1)),
              ERROR_SUCCESS);
  }

  static std::string queryString(HKEY key, const char* name) {
    char buffer[512] = {};
    DWORD size = sizeof buffer;
    DWORD type = 0;
    LSTATUS status =
        RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    return status == ERROR_SUCCESS ? std::string(buffer) : "<error " + std::to_string(status) + ">";
  }

  // The name of the subkey at `index`, or the failure as text.
  static std::string subkeyAt(HKEY key, DWORD index) {
    char name[256];
    DWORD size = sizeof name;
    LSTATUS status = RegEnumKeyExA(key, index, name, &size, nullptr, nullptr, nullptr, nullptr);
    if (status != ERROR_SUCCESS) return "<error " + std::to_string(status) + ">";
    EXPECT_EQ(size, std::string(name).size());
    return name;
  }

  // Every subkey's name in the order enumeration gives them.
  static std::vector<std::string> subkeys(HKEY key) {
    const std::string end = "<error " + std::to_string(ERROR_NO_MORE_ITEMS) + ">";
    std::vector<std::string> names;
    for (DWORD index = 0;; ++index) {
      std::string name = subkeyAt(key, index);
      if (name.starts_with("<error ")) {
        EXPECT_EQ(name, end);
        return names;
      }
      names.push_back(name);
    }
  }

  TempDir m_temp;
  const std::filesystem::path m_folder = m_temp.path();
  const std::filesystem::path m_file = m_folder / "registry.db";
};
