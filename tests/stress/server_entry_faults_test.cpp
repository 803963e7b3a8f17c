// Failure paths of the server entry that no other test reaches: COM refusing the apartment the
// entry asks for, and COM refusing process-wide security.
#include <gtest/gtest.h>
#include <windows.h>
#include <winplatform/posix_hooks.h>

#include <objbase.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <future>
#include <string>
#include <vector>

#include "server_exit_codes.h"

namespace {

class ServerEntryFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/velt-entry-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    directory_ = pattern;
    executable_ = (directory_ / "VeltProxyProvider").string();
    setenv("VELT_REGISTRY", (directory_ / "registry.db").c_str(), 1);
    VeltRegistryReset();
    VeltSetModuleFileNameOverride(executable_.c_str());
    VeltResetComSecurityForTesting();
  }
  void TearDown() override {
    VeltSetModuleFileNameOverride(nullptr);
    VeltRegistryReset();
    std::filesystem::remove_all(directory_);
  }

  static int runEntry(const char* commandLine) {
    std::vector<char> writable(commandLine, commandLine + std::strlen(commandLine) + 1);
    return WinMain(nullptr, nullptr, writable.data(), SW_SHOWDEFAULT);
  }

  static bool registered() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID\\{6D0F4A2E-93B7-4C51-A8E2-5F19C3D7B06A}", 0,
                      KEY_READ, &key) != ERROR_SUCCESS) {
      return false;
    }
    RegCloseKey(key);
    return true;
  }

  std::filesystem::path directory_;
  std::string executable_;
};

TEST_F(ServerEntryFaults, ApartmentRefusedByComEndsWithExitCodeOneAndDoesNothing) {
  // A thread already in a single-threaded apartment cannot join the multithreaded one.
  auto exitCode = std::async(std::launch::async, [] {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int code = runEntry("-RegServer");
    CoUninitialize();
    return code;
  });
  EXPECT_EQ(exitCode.get(), kExitComFailed);
  EXPECT_FALSE(registered());
}

TEST_F(ServerEntryFaults, RefusedComSecurityIsIgnored) {
  // Security may be set once per process: the entry's own call is then refused.
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  ASSERT_EQ(CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_CONNECT,
                                 RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr),
            S_OK);
  EXPECT_EQ(runEntry("-RegServer"), kExitOk);
  EXPECT_TRUE(registered());
  EXPECT_EQ(runEntry("-UnregServer"), kExitOk);
  EXPECT_FALSE(registered());
  CoUninitialize();
}

}  // namespace
