// The gadget provider registered as a local server of its own, in a private registry and
// runtime folder, and the service that reaches it. At the end the server must have ended by its
// lifetime rule and left nothing behind, here or there.
#pragma once

#include <gtest/gtest.h>
#include <winplatform/posix_hooks.h>
#include <winplatform/registry_hooks.h>

#include <signal.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>

#include "child_process.h"
#include "gadget_provider.h"
#include "temp_dir.h"
#include "wmi_model/objects.h"
#include "wmi_test_support.h"

namespace velt::wmi::test {

inline constexpr auto kWait = std::chrono::seconds(20);

// Counts its references: a call that kept the sink past its answer shows.
class InitStatus final : public IWbemProviderInitSink {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid != IID_IUnknown && iid != IID_IWbemProviderInitSink) {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    *out = this;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }  // lives on the test's stack
  HRESULT STDMETHODCALLTYPE SetStatus(LONG status, LONG) override {
    reported = status;
    return WBEM_S_NO_ERROR;
  }
  std::atomic<LONG> reported{-1};
  std::atomic<ULONG> refs{0};
};

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
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT,
                              "CLSID\\{3C2B7A10-5E4F-4D21-8B6A-910E2D447FC3}\\LocalServer32", 0,
                              nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(m_server.c_str()),
                   static_cast<DWORD>(m_server.size() + 1));
    RegCloseKey(key);
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

  static std::pair<LONG, LONG> liveRemoteObjects() {
    LONG proxies = 0, stubs = 0;
    VeltLiveRemoteObjects(&proxies, &stubs);
    return {proxies, stubs};
  }

  TempDir m_folder;
  std::string m_server = m_folder / "gadget-server";
  long m_liveAtStart = 0;
  std::pair<LONG, LONG> m_remoteAtStart;
  Service m_service;
  ComPtr<IWbemServices> m_ns;
};

}  // namespace velt::wmi::test
