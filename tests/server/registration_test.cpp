// Self-registration and the entry's command line, against a registry the test may clear.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <owners/unique_handle.h>
#include <windows.h>

#include <objbase.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "jvm_lock_setup.h"
#include "provider/provider_class_id.h"
#include "provider/proxy_provider.h"
#include "registry.h"
#include "seams.h"
#include "server/factory.h"
#include "server/server_exit_codes.h"

namespace fs = std::filesystem;
namespace seams = velt::test::seams;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

constexpr char kClassKey[] = "CLSID\\{6D0F4A2E-93B7-4C51-A8E2-5F19C3D7B06A}";
constexpr char kClassIdText[] = "{6D0F4A2E-93B7-4C51-A8E2-5F19C3D7B06A}";
constexpr char kProgId[] = "NorvexVeltProxyProvider.Cmpnt1.1";
constexpr char kIndependentProgId[] = "NorvexVeltProxyProvider.Cmpnt1";
constexpr char kFriendlyName[] = "NorvexVelt Proxy Provider, Release 1.0";

// The default value of HKEY_CLASSES_ROOT\key, or "<absent>".
std::string defaultValue(const std::string& key) {
  velt::UniqueRegistryKey opened;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, opened.put()) != ERROR_SUCCESS) {
    return "<absent>";
  }
  char value[1024] = {};
  DWORD size = sizeof value;
  DWORD type = REG_NONE;
  LSTATUS status = RegQueryValueExA(opened.get(), nullptr, nullptr, &type,
                                    reinterpret_cast<BYTE*>(value), &size);
  if (status != ERROR_SUCCESS) return "<no value>";
  EXPECT_EQ(type, REG_SZ) << key;
  EXPECT_EQ(size, std::char_traits<char>::length(value) + 1) << key;
  return value;
}

bool keyExists(const std::string& key) {
  return hasSubkey(HKEY_CLASSES_ROOT, key.c_str(), nullptr);
}

class RegistrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Every key the tests write, so that on Windows none outlives the test.
    m_registry = std::make_unique<seams::ScratchRegistry>(
        std::vector<std::string>{kClassKey, kIndependentProgId, kProgId, "CLSID\\Other"});
    // A folder name with a blank, as installations have them.
    m_folder = std::make_unique<seams::ExecutableFolder>("Program Files", "VeltProxyProvider");
    m_executable = m_folder->executable();
    m_markerPath = m_folder->file("qelvor.dbg");
    m_logPath = m_folder->file("qelvor.log");
    m_debugOutput = std::make_unique<seams::DebugOutputCapture>();
    seams::allowComSecurityAgain();
  }
  void TearDown() override {
    m_debugOutput.reset();
    m_folder.reset();
    m_registry.reset();
  }

  int runEntry(const char* commandLine) {
    std::vector<char> writable(commandLine, commandLine + std::strlen(commandLine) + 1);
    seams::allowComSecurityAgain();
    return WinMain(nullptr, nullptr, writable.data(), SW_SHOWDEFAULT);
  }

  // Runs the entry on a thread of its own whose queue already holds the quit message, so a
  // server-mode run starts its factories, takes the quit and ends.
  int runEntryAlreadyToldToQuit(const char* commandLine) {
    std::promise<DWORD> threadId;
    std::promise<void> quitPosted;
    std::future<int> exitCode = std::async(std::launch::async, [&] {
      seams::createThreadMessageQueue();
      threadId.set_value(GetCurrentThreadId());
      quitPosted.get_future().wait();
      return runEntry(commandLine);
    });
    PostThreadMessageA(threadId.get_future().get(), WM_QUIT, 0, 0);
    quitPosted.set_value();
    if (exitCode.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
      ADD_FAILURE() << "the entry did not end";
      std::abort();
    }
    return exitCode.get();
  }

  void placeTraceMarker() { std::ofstream{m_markerPath}; }
  std::string traceLog() const {
    std::ifstream in(m_logPath);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
  }

  void expectRegistered() {
    EXPECT_EQ(defaultValue(kClassKey), kFriendlyName);
    // The folder has a blank: the command line COM starts quotes the path.
    EXPECT_EQ(defaultValue(std::string(kClassKey) + "\\LocalServer32"), '"' + m_executable + '"');
    EXPECT_EQ(defaultValue(std::string(kClassKey) + "\\ProgID"), kProgId);
    EXPECT_EQ(defaultValue(std::string(kClassKey) + "\\VersionIndependentProgID"),
              kIndependentProgId);
    EXPECT_EQ(defaultValue(kIndependentProgId), kFriendlyName);
    EXPECT_EQ(defaultValue(std::string(kIndependentProgId) + "\\CLSID"), kClassIdText);
    EXPECT_EQ(defaultValue(std::string(kIndependentProgId) + "\\CurVer"), kProgId);
    EXPECT_EQ(defaultValue(kProgId), kFriendlyName);
    EXPECT_EQ(defaultValue(std::string(kProgId) + "\\CLSID"), kClassIdText);
  }
  void expectUnregistered() {
    EXPECT_FALSE(keyExists(kClassKey));
    EXPECT_FALSE(keyExists(kIndependentProgId));
    EXPECT_FALSE(keyExists(kProgId));
  }

  std::string debugOutput() const { return m_debugOutput->text(); }

  std::unique_ptr<seams::ScratchRegistry> m_registry;
  std::unique_ptr<seams::ExecutableFolder> m_folder;
  std::unique_ptr<seams::DebugOutputCapture> m_debugOutput;
  std::string m_executable;
  fs::path m_markerPath;
  fs::path m_logPath;
};

TEST_F(RegistrationTest, RegisterWritesTheNineEntriesAndUnregisterRemovesThem) {
  CFactory::sm_module = nullptr;
  EXPECT_EQ(CFactory::RegisterEntries(), S_OK);
  expectRegistered();
  EXPECT_EQ(CFactory::RegisterEntries(), S_OK);
  expectRegistered();

  EXPECT_EQ(CFactory::UnregisterEntries(), S_OK);
  expectUnregistered();
  EXPECT_TRUE(keyExists("CLSID"));
  EXPECT_EQ(CFactory::UnregisterEntries(), S_OK);
  EXPECT_EQ(debugOutput(), "");
}

TEST_F(RegistrationTest, APathWithoutBlanksIsRegisteredAsItStands) {
  const std::string plain = "/opt/norvexvelt/bin/VeltProxyProvider";
  if (!m_folder->pretendExecutablePath(plain)) GTEST_SKIP() << "the real path stays";
  CFactory::sm_module = nullptr;
  EXPECT_EQ(CFactory::RegisterEntries(), S_OK);
  EXPECT_EQ(defaultValue(std::string(kClassKey) + "\\LocalServer32"), plain);
}

TEST_F(RegistrationTest, AnInprocServerKeepsEverythingButTheLocalServerEntry) {
  CFactory::RegisterEntries();
  writeKeyValue(HKEY_CLASSES_ROOT, kClassKey, "InprocServer32", "inproc.dll", REG_SZ, 11);
  EXPECT_EQ(CFactory::UnregisterEntries(), S_OK);
  EXPECT_FALSE(keyExists(std::string(kClassKey) + "\\LocalServer32"));
  EXPECT_EQ(defaultValue(std::string(kClassKey) + "\\InprocServer32"), "inproc.dll");
  EXPECT_EQ(defaultValue(std::string(kClassKey) + "\\ProgID"), kProgId);
  EXPECT_EQ(defaultValue(std::string(kIndependentProgId) + "\\CurVer"), kProgId);
  EXPECT_EQ(defaultValue(kProgId), kFriendlyName);

  // With the local server entry already gone, its deletion is a failed check.
  EXPECT_EQ(CFactory::UnregisterEntries(), E_FAIL);
  EXPECT_THAT(debugOutput(), HasSubstr("module registry"));
}

TEST_F(RegistrationTest, DeleteKeyTreeRemovesNestedKeysDepthFirst) {
  CFactory::RegisterEntries();
  for (const char* nested : {"\\A\\B\\C\\D", "\\A\\B2", "\\E\\F\\G"}) {
    ASSERT_TRUE(writeKeyValue(HKEY_CLASSES_ROOT, (std::string(kClassKey) + nested).c_str(), nullptr,
                              "x", REG_SZ, 2));
  }
  ASSERT_TRUE(writeKeyValue(HKEY_CLASSES_ROOT, "CLSID\\Other", nullptr, "x", REG_SZ, 2));
  EXPECT_EQ(deleteKeyTree(HKEY_CLASSES_ROOT, kClassKey), ERROR_SUCCESS);
  EXPECT_FALSE(keyExists(kClassKey));
  EXPECT_TRUE(keyExists("CLSID\\Other")) << "a sibling stays";
  EXPECT_EQ(deleteKeyTree(HKEY_CLASSES_ROOT, kClassKey), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistrationTest, ClassIdentifierTextNeedsItsFullBuffer) {
  char text[CLSID_STRING_SIZE];
  ASSERT_TRUE(clsidToText(CLSID_NorvexVeltProxyProvider, text, sizeof text));
  EXPECT_STREQ(text, kClassIdText);

  char tooSmall[CLSID_STRING_SIZE - 1] = "unchanged";
  EXPECT_FALSE(clsidToText(CLSID_NorvexVeltProxyProvider, tooSmall, sizeof tooSmall));
  EXPECT_STREQ(tooSmall, "");
  EXPECT_THAT(debugOutput(), HasSubstr("module registry"));
}

TEST_F(RegistrationTest, RegistrationSwitchesRunInTheirOrderAndNeverStartTheServer) {
  placeTraceMarker();
  EXPECT_EQ(runEntry("/regserver"), kExitOk);
  expectRegistered();
  EXPECT_EQ(runEntry("-UNREGSERVER"), kExitOk);
  expectUnregistered();
  // Unregistration first, then registration: the entries stay.
  EXPECT_EQ(runEntry("/UnregServer/RegServer"), kExitOk);
  expectRegistered();
  // "RegServer " with its blank matches nothing; only the unregistration runs.
  EXPECT_EQ(runEntry("-RegServer -UnregServer"), kExitOk);
  expectUnregistered();
  // "Embedding " with its blank does not end the scan.
  EXPECT_EQ(runEntry("-Embedding -RegServer"), kExitOk);
  expectRegistered();
  EXPECT_THAT(traceLog(), Not(HasSubstr("StartFactories")));
  EXPECT_THAT(debugOutput(), HasSubstr("NorvexVelt Proxy Provider: registered\n"));
}

TEST_F(RegistrationTest, FailedRegistrationCheckEndsTheRunWithAnError) {
  if (!m_folder->pretendExecutablePath(std::string(600, 'p').insert(0, "/"))) {
    GTEST_SKIP() << "needs an executable path longer than the registration's buffer";
  }
  EXPECT_EQ(runEntry("-RegServer"), kExitRegistrationFailed);
  EXPECT_THAT(debugOutput(), HasSubstr("module registry"));
  EXPECT_THAT(debugOutput(), HasSubstr("FAILED: registered"));
  expectUnregistered();
}

TEST_F(RegistrationTest, OtherCommandLinesRunTheServerWithoutTouchingTheRegistry) {
  placeTraceMarker();
  for (const char* commandLine : {"-Embedding", "", "-Embedding-RegServer", "/Automation"}) {
    EXPECT_EQ(runEntryAlreadyToldToQuit(commandLine), kExitOk) << commandLine;
    std::string log = traceLog();
    EXPECT_THAT(log, HasSubstr("CFactory::StartFactories(). Registering class factory."))
        << commandLine;
    EXPECT_THAT(log, HasSubstr("CFactory::StopFactories(). Stopping Class Factory."));
  }
  expectUnregistered();
}

TEST(JvmLockTest, IsUsableBeforeTheEntryAndDeletedOnlyOnce) {
  EnterCriticalSection(&CProxyProvider::sm_csJvm);
  LeaveCriticalSection(&CProxyProvider::sm_csJvm);
  EXPECT_FALSE(jvmLockDeleted());
  deleteJvmLockOnce();
  deleteJvmLockOnce();
  EXPECT_TRUE(jvmLockDeleted());
}

}  // namespace
