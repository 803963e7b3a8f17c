// A service in this process with the gadget MOF loaded and its namespace open, the gadget
// server registered as this process's local server, in a registry of the test's own. TearDown
// checks that the provider's server ended and that no WMI object outlived the test.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>

#include <owners/com_ptr.h>

#include "gadget_provider.h"
#include "temp_dir.h"
#include "winplatform/posix_hooks.h"
#include "winplatform/registry_hooks.h"
#include "wmi/service.h"
#include "wmi_model/objects.h"
#include "wmi_test_support.h"

namespace velt::wmi::test {

constexpr auto kWait = std::chrono::seconds(20);

class GadgetNamespaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("VELT_REGISTRY", (m_dir / "registry.db").c_str(), 1);
    VeltRegistryReset();
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    VeltSetLocalServerEntry(veltwmi::test::gadgetProviderMain, nullptr, nullptr);
    veltwmi::test::resetGadgets();
    veltwmi::test::registerGadgetServer();
    m_service = std::make_unique<Service>(options());
    m_service->loadMofText(veltwmi::test::kGadgetMof, "gadgets.mof");
    ASSERT_EQ(m_service->openNamespace(u"root\\test", m_ns.put()), WBEM_S_NO_ERROR);
  }
  void TearDown() override {
    m_ns = {};
    m_service.reset();
    int exitCode = -1;
    EXPECT_TRUE(VeltWaitForLocalServerExit(20000, &exitCode));
    VeltSetLocalServerEntry(nullptr, nullptr, nullptr);
    EXPECT_EQ(liveObjectCount(), 0);
    CoUninitialize();
    VeltRegistryReset();
  }
  virtual ServiceOptions options() { return {}; }

  // runRequest, with its start expected to succeed and the sink held raw when kept.
  template <class Call>
  HRESULT run(Call call, RecordingSink** keep = nullptr) {
    ComPtr<RecordingSink> kept;
    HRESULT status = runRequest(
        [&](IWbemObjectSink* sink) {
          HRESULT started = call(sink);
          EXPECT_EQ(started, WBEM_S_NO_ERROR);
          return started;
        },
        &kept, kWait);
    if (keep) *keep = kept.detach();
    return status;
  }

  TempDir m_dir;
  std::unique_ptr<Service> m_service;
  ComPtr<IWbemServices> m_ns;
};

}  // namespace velt::wmi::test
