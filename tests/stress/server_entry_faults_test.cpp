// Failure paths of the server entry that no other test reaches: COM refusing the apartment the
// entry asks for, COM refusing process-wide security, a class factory that cannot be made, and
// a module without a path or a class identifier without text to register.
#include <gtest/gtest.h>
#include <owners/unique_handle.h>
#include <windows.h>
#include <winplatform/posix_hooks.h>

#include <objbase.h>
#include <stdlib.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <vector>

#include "failing_nothrow_new.h"
#include "server/factory.h"
#include "server/server_exit_codes.h"

namespace {

class ServerEntryFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/velt-entry-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    m_directory = pattern;
    m_executable = (m_directory / "VeltProxyProvider").string();
    setenv("VELT_REGISTRY", (m_directory / "registry.db").c_str(), 1);
    VeltRegistryReset();
    VeltSetModuleFileNameOverride(m_executable.c_str());
    VeltResetComSecurityForTesting();
  }
  void TearDown() override {
    VeltSetModuleFileNameOverride(nullptr);
    VeltRegistryReset();
    std::filesystem::remove_all(m_directory);
  }

  static int runEntry(const char* commandLine) {
    std::vector<char> writable(commandLine, commandLine + std::strlen(commandLine) + 1);
    return WinMain(nullptr, nullptr, writable.data(), SW_SHOWDEFAULT);
  }

  static bool registered() {
    velt::UniqueRegistryKey key;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID\\{6D0F4A2E-93B7-4C51-A8E2-5F19C3D7B06A}", 0,
                      KEY_READ, key.put()) != ERROR_SUCCESS) {
      return false;
    }
    return true;
  }

  std::filesystem::path m_directory;
  std::string m_executable;
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

void collectDebugOutput(const char* text, void* context) {
  *static_cast<std::string*>(context) += text;
}

// A failed check ends the registration with its exit code, says so and registers nothing.
TEST_F(ServerEntryFaults, ARegistrationCheckThatFailsEndsTheRun) {
  void (*const faults[])() = {
      [] { VeltSetModuleFileNameOverride(""); },  // the module's path cannot be had
      [] { VeltFailNextOleAllocations(1); },      // the class identifier's text cannot be made
  };
  for (auto fault : faults) {
    std::string debugOutput;
    VeltSetDebugOutputHook(collectDebugOutput, &debugOutput);
    fault();
    EXPECT_EQ(runEntry("-RegServer"), kExitRegistrationFailed);
    VeltFailNextOleAllocations(0);
    VeltSetModuleFileNameOverride(m_executable.c_str());
    VeltSetDebugOutputHook(nullptr, nullptr);
    for (const char* said : {"Check failed: ", ", module registry", "FAILED: registered"}) {
      EXPECT_NE(debugOutput.find(said), std::string::npos) << debugOutput;
    }
    EXPECT_FALSE(registered());
  }
}

// The trace log's lines whose record contains `text`.
int countRecords(const std::filesystem::path& log, const std::string& text) {
  int found = 0;
  std::ifstream in(log);
  for (std::string line; std::getline(in, line);) {
    if (line.find(text) != std::string::npos) ++found;
  }
  return found;
}

TEST_F(ServerEntryFaults, AClassFactoryThatCannotBeMadeStopsTheServerWithExitCodeThree) {
  std::ofstream(m_directory / "qelvor.dbg").put('\n');  // the marker: the entry keeps its log
  velt::test::failNextNothrowAllocations(1);
  void* probe = ::operator new(sizeof(int), std::nothrow);
  const bool hookWorks = probe == nullptr;
  ::operator delete(probe);
  ASSERT_TRUE(hookWorks) << "the allocation-failure hook is not in effect";

  // Started by COM with no factory to offer, the server must not wait for a quit that only a
  // component could bring about.
  velt::test::failNextNothrowAllocations(1);
  auto exitCode = std::async(std::launch::async, [] { return runEntry("-Embedding"); });
  if (exitCode.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
    PostThreadMessageA(CFactory::sm_mainThreadId, WM_QUIT, 0, 0);
    ADD_FAILURE() << "the server kept waiting without a class factory";
  }
  EXPECT_EQ(exitCode.get(), kExitFactoriesFailed);
  EXPECT_EQ(velt::test::nothrowFailuresPending(), 0);
  velt::test::failNextNothrowAllocations(0);
  EXPECT_EQ(g_factoryEntries[0].classFactory, nullptr);
  EXPECT_EQ(g_factoryEntries[0].registrationCookie, 0u);

  const auto log = m_directory / "qelvor.log";
  EXPECT_EQ(countRecords(log, "CFactory::StartFactories(). Registering class factory."), 1);
  EXPECT_EQ(countRecords(log, "Could not register the class factory; the server stops."), 1);
  EXPECT_EQ(countRecords(log, "CFactory::StopFactories(). Stopping Class Factory."), 1);
  EXPECT_FALSE(registered());
}

}  // namespace
