// The real Glue and SDK in the provider's server as a process of its own: the namespace the
// provider sees is then a proxy back into this process, and every class look-up a round trip.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <objbase.h>
#include <owners/com_ptr.h>
#include <owners/utf_text.h>
#include <stdlib.h>
#include <wmi_model/low_arena.h>
#include <wmi_model/recording_sink.h>

#include <fstream>
#include <string>

#include "counting_namespace.h"
#include "in_process_server.h"
#include "provider/provider_class_id.h"
#include "wmi_test_support.h"

namespace {

using velt::host::InProcessServer;
using velt::test::CountingNamespace;

constexpr int kItems = 300;

class GlueProcess : public ::testing::Test {
 protected:
  void SetUp() override { setenv("VELT_ITEM_COUNT", std::to_string(kItems).c_str(), 1); }
  void TearDown() override {
    EXPECT_TRUE(host.shutDown()) << "the server ends by its lifetime rule";
    EXPECT_EQ(velt::wmi::liveObjectCount(), host.liveObjectsAtStart());
    std::ifstream log(host.consoleLogPath());
    for (std::string line; std::getline(log, line);) {
      EXPECT_EQ(line.find("WARNING"), std::string::npos) << "the server's VM reported: " << line;
    }
    unsetenv("VELT_ITEM_COUNT");
  }

  // Every item of one enumeration, checked, and released.
  void enumerateItems(IWbemServices* provider) {
    velt::ComPtr<velt::wmi::RecordingSink> sink(velt::wmi::RecordingSink::create());
    velt::UniqueBstr className = velt::bstrFromUtf16(InProcessServer::kItemClass);
    ASSERT_EQ(provider->CreateInstanceEnumAsync(className.get(), 0, nullptr, sink.get()), S_OK);
    ASSERT_EQ(sink->waitForFinalStatus(std::chrono::seconds(60)).value_or(E_UNEXPECTED), S_OK);
    ASSERT_EQ(sink->objects().size(), static_cast<size_t>(kItems));
    EXPECT_EQ(velt::wmi::test::getText(sink->objects().back(), u"Name"),
              u"item" + velt::utf16FromUtf8(std::to_string(kItems - 1)));
  }

  InProcessServer host{velt::host::HostOptions{
      false, {VELT_TEST_GLUE_JAR, VELT_TEST_ITEM_PROVIDER_JAR}, VELT_TEST_SERVER}};
};

TEST_F(GlueProcess, AnEnumerationAsksForItsClassOncePerRequest) {
  CountingNamespace* counting = CountingNamespace::create(host.services());
  velt::ComPtr<IUnknown> object;
  ASSERT_EQ(CoCreateInstance(CLSID_NorvexVeltProxyProvider, nullptr, CLSCTX_LOCAL_SERVER,
                             IID_IUnknown, object.putVoid()),
            S_OK);
  ASSERT_EQ(velt::host::initializeProvider(object.get(), counting), WBEM_S_NO_ERROR);
  velt::ComPtr<IWbemServices> provider;
  ASSERT_EQ(object->QueryInterface(IID_IWbemServices, provider.putVoid()), S_OK);

  enumerateItems(provider.get());
  EXPECT_EQ(counting->lookups(InProcessServer::kItemClass), 1);
  enumerateItems(provider.get());
  EXPECT_EQ(counting->lookups(InProcessServer::kItemClass), 2);
  EXPECT_EQ(counting->lookups(), 2);

  provider = {};
  object = {};
  counting->Release();
  std::ifstream maps("/proc/self/maps");
  for (std::string line; std::getline(maps, line);) {
    EXPECT_EQ(line.find("libjvm.so"), std::string::npos) << "the VM runs in the test's process";
  }
}

}  // namespace
