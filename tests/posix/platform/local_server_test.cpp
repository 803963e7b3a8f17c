#include <gtest/gtest.h>
#include <objbase.h>
#include <owners/com_ptr.h>
#include <windows.h>
#include <winplatform/posix_hooks.h>

#include <atomic>
#include <string>
#include <thread>

#include "test_com_objects.h"
#include "wbem_provider_base.h"

namespace {

std::atomic<int> serverStarts{0};
std::atomic<HRESULT> securitySeenByServer{E_UNEXPECTED};
std::string pathSeenByServer;  // written by the server before it registers, read after
std::string commandLineSeen;

// A local server in the usual shape: register, loop until the last object goes, revoke.
int WINAPI serverEntry(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
  ++serverStarts;
  securitySeenByServer =
      CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_CONNECT,
                           RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
  commandLineSeen = commandLine;
  char path[MAX_PATH];
  pathSeenByServer.assign(path, GetModuleFileNameA(nullptr, path, sizeof path));
  TestFactory factory;
  int served = velt::test::serveClassFactory(CLSID_TestClass, &factory, lastObjectGoneNotify);
  lastObjectGoneNotify = 0;
  if (served) return served;
  return factory.refs == 1 ? 5 : 6;  // 6 would mean a leaked factory reference
}

int WINAPI entryThatGivesUp(HINSTANCE, HINSTANCE, LPSTR, int) { return 2; }

// A server already on its way out when the client comes: the first run ends, without the
// class, once released; later runs serve.
std::atomic<bool> releaseStoppingRun{false};
int WINAPI stoppingThenServing(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine,
                               int show) {
  if (serverStarts++ == 0) {
    while (!releaseStoppingRun) std::this_thread::yield();
    return 3;
  }
  --serverStarts;
  return serverEntry(instance, previous, commandLine, show);
}

class LocalServerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK); }
  void TearDown() override {
    VeltSetLocalServerEntry(nullptr, nullptr, nullptr);
    VeltSetModuleFileNameOverride(nullptr);
    CoUninitialize();
  }

  static HRESULT activate(IUnknown** object) {
    return CoCreateInstance(CLSID_TestClass, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown,
                            reinterpret_cast<void**>(object));
  }
};

TEST_F(LocalServerTest, StartsServerRunsUntilLastObjectAndRestartsLater) {
  serverStarts = 0;
  VeltSetLocalServerEntry(serverEntry, nullptr, "/opt/velt/bin/server.exe");
  for (int round = 1; round <= 2; ++round) {
    velt::ComPtr<IUnknown> object;
    ASSERT_EQ(activate(object.put()), S_OK);
    EXPECT_EQ(serverStarts, round);
    EXPECT_EQ(securitySeenByServer, S_OK) << "every start is a process of its own";
    velt::ComPtr<IUnknown> second;
    ASSERT_EQ(activate(second.put()), S_OK);
    EXPECT_EQ(serverStarts, round) << "a running server is reused";
    second.reset();
    int exitCode = -1;
    EXPECT_FALSE(VeltWaitForLocalServerExit(0, &exitCode)) << "one object still alive";
    object.reset();  // the last object: the server posts itself WM_QUIT
    ASSERT_TRUE(VeltWaitForLocalServerExit(30000, &exitCode));
    EXPECT_EQ(exitCode, 5);
  }
  EXPECT_EQ(commandLineSeen, "-Embedding");
  EXPECT_EQ(pathSeenByServer, "/opt/velt/bin/server.exe");
}

// As COM does, a client that finds the server stopping gets a new one rather than a failure.
TEST_F(LocalServerTest, AServerFoundStoppingIsStartedAnew) {
  serverStarts = 0;
  releaseStoppingRun = false;
  VeltSetLocalServerEntry(stoppingThenServing, nullptr, nullptr);
  std::atomic<bool> mainActivated{false};
  std::thread first([&] {
    // Starts the run that stops; it may fail (its own start ended) or meet the next run. An
    // object of the next run is kept until the main activation is done: releasing it first
    // would be that run's last object and stop it before the main activation saw the class.
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    IUnknown* early = nullptr;
    if (SUCCEEDED(activate(&early)) && early) {
      while (!mainActivated) std::this_thread::yield();
      early->Release();
    }
    CoUninitialize();
  });
  while (serverStarts == 0) std::this_thread::yield();
  std::thread release([] {
    // Lets the next activation find the stopping run before it ends (without this wait
    // it would start the server itself, which passes too).
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    releaseStoppingRun = true;
  });
  IUnknown* object = nullptr;
  EXPECT_EQ(activate(&object), S_OK);
  mainActivated = true;
  release.join();
  first.join();
  ASSERT_NE(object, nullptr);
  object->Release();
  int exitCode = -1;
  ASSERT_TRUE(VeltWaitForLocalServerExit(30000, &exitCode));
  EXPECT_EQ(exitCode, 5);
}

TEST_F(LocalServerTest, NoEntryOrOneEndingBeforeRegistrationFailsActivation) {
  IUnknown* object = nullptr;
  EXPECT_EQ(activate(&object), REGDB_E_CLASSNOTREG);
  VeltSetLocalServerEntry(entryThatGivesUp, nullptr, nullptr);
  EXPECT_EQ(activate(&object), CO_E_SERVER_EXEC_FAILURE);
  EXPECT_EQ(object, nullptr);
  int exitCode = -1;
  ASSERT_TRUE(VeltWaitForLocalServerExit(30000, &exitCode));
  EXPECT_EQ(exitCode, 2);
}

}  // namespace
