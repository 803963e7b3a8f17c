// The gadget provider registered as a local server of its own, in a private registry and
// runtime folder, and the service that reaches it. At the end the server must have ended by its
// lifetime rule and left nothing behind, here or there.
#pragma once

#include <gtest/gtest.h>
#include <winplatform/posix_hooks.h>
#include <winplatform/registry_hooks.h>

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>

#include "child_process.h"
#include "gadget_provider.h"
#include "init_status_sink.h"
#include "local_server_registration.h"
#include "temp_dir.h"
#include "wmi_model/objects.h"
#include "wmi_test_support.h"

namespace velt::wmi::test {

inline constexpr auto kWait = std::chrono::seconds(20);

class GadgetProcessFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    namespace fs = std::filesystem;
    setenv("XDG_RUNTIME_DIR", m_folder.path().c_str(), 1);
    setenv("VELT_REGISTRY", (m_folder / "registry.db").c_str(), 1);
    VeltRegistryReset();
    fs::copy_file(GADGET_SERVER, m_server);
    fs::copy_file(fs::path(GADGET_SERVER).parent_path() / "libvelt_platform.so",
                  m_folder / "libvelt_platform.so");
    ASSERT_EQ(velt::test::registerLocalServer(veltwmi::test::CLSID_GadgetProvider, m_server),
              ERROR_SUCCESS);
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    m_liveAtStart = liveObjectCount();
    m_remoteAtStart = liveRemoteObjects();
    m_service.loadMofText(veltwmi::test::kGadgetMof, "gadgets.mof");
    ASSERT_EQ(m_service.openNamespace(u"root\\test", m_ns.put()), WBEM_S_NO_ERROR);
  }
  void TearDown() override {
    using velt::test::processesOf;
    using velt::test::within;
    m_ns = {};
    m_service.shutdown();
    EXPECT_TRUE(within(kWait, [&] { return processesOf(m_server).empty(); }))
        << "the server ends by its lifetime rule once the service lets its provider go";
    EXPECT_TRUE(within(kWait, [&] { return liveObjectCount() == m_liveAtStart; }))
        << "every sink and namespace handed to the server came back: " << liveObjectCount();
    EXPECT_TRUE(within(kWait, [&] { return liveRemoteObjects() == m_remoteAtStart; }))
        << "proxies and stubs: " << liveRemoteObjects().first << " and "
        << liveRemoteObjects().second;
    // What each run of the server that ended by itself found left behind as it ended.
    std::ifstream log(m_server + ".console.log");
    for (std::string line; std::getline(log, line);) {
      if (line.find("left: ") == std::string::npos) continue;
      EXPECT_TRUE(line == "gadget server: objects left: 0" ||
                  line == "gadget server: proxies and stubs left: 0 and 0")
          << line;
    }
    for (pid_t pid : processesOf(m_server)) kill(pid, SIGKILL);
    unsetenv("VELT_GADGET_HOLD_ENUMERATIONS");
    CoUninitialize();
    VeltRegistryReset();
    unsetenv("VELT_REGISTRY");
    unsetenv("XDG_RUNTIME_DIR");
  }

  // The gadget provider's object in its server process, as COM makes one for this process.
  static ComPtr<IWbemProviderInit> newProvider() {
    ComPtr<IWbemProviderInit> init;
    EXPECT_EQ(CoCreateInstance(veltwmi::test::CLSID_GadgetProvider, nullptr, CLSCTX_LOCAL_SERVER,
                               IID_IWbemProviderInit, reinterpret_cast<void**>(init.put())),
              S_OK);
    return init;
  }
  // One initialised with this process's namespace, as the service initialises it.
  ComPtr<IWbemServices> initializedProvider(IWbemContext* context = nullptr) {
    ComPtr<IWbemProviderInit> init = newProvider();
    ComPtr<IWbemServices> services;
    std::u16string nameSpace = u"root\\test";
    if (!init) return services;
    EXPECT_EQ(
        init->Initialize(nullptr, 0, nameSpace.data(), nullptr, m_ns.get(), context, &m_initStatus),
        WBEM_S_NO_ERROR);
    EXPECT_EQ(m_initStatus.statuses.empty() ? E_UNEXPECTED : m_initStatus.statuses.back(),
              WBEM_S_INITIALIZED);
    init->QueryInterface(IID_IWbemServices, reinterpret_cast<void**>(services.put()));
    return services;
  }

  static std::pair<LONG, LONG> liveRemoteObjects() {
    LONG proxies = 0, stubs = 0;
    VeltLiveRemoteObjects(&proxies, &stubs);
    return {proxies, stubs};
  }

  // Stays until the server's proxies of it are gone: TearDown waits for those.
  velt::test::InitStatusSink m_initStatus;
  TempDir m_folder;
  std::string m_server = m_folder / "gadget-server";
  long m_liveAtStart = 0;
  std::pair<LONG, LONG> m_remoteAtStart;
  Service m_service;
  ComPtr<IWbemServices> m_ns;
};

}  // namespace velt::wmi::test
