// The service keeps a provider loaded between requests for an idle time, then releases it:
// never while a request still uses it (a subscription's hold is the daemon's process test's).
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "child_process.h"
#include "gadget_namespace_test.h"

namespace velt::wmi::test {
namespace {

using std::chrono::milliseconds;
constexpr unsigned kIdleMs = 50;

class ProviderIdleTest : public GadgetNamespaceTest {
 protected:
  void TearDown() override {
    veltwmi::test::holdEnumerations(false);
    GadgetNamespaceTest::TearDown();
  }
  ServiceOptions options() override {
    ServiceOptions options;
    options.providerIdleMs = kIdleMs;
    return options;
  }
  HRESULT getG1() {
    return run(
        [&](IWbemObjectSink* s) { return m_ns->GetObjectAsync(m_path.get(), 0, nullptr, s); });
  }
  bool released() {
    return velt::test::within(kWait, [&] { return m_service->activeProviderCount() == 0; });
  }

  velt::UniqueBstr m_path = velt::bstrFromUtf16(u"Gadget.Name=\"g1\"");
};

TEST_F(ProviderIdleTest, AnIdleProviderIsReleasedAndTheNextRequestActivatesItAgain) {
  ASSERT_EQ(getG1(), WBEM_S_NO_ERROR);
  EXPECT_TRUE(released());
  int exitCode = -1;
  EXPECT_TRUE(VeltWaitForLocalServerExit(20000, &exitCode)) << "its server ended with it";
  EXPECT_EQ(getG1(), WBEM_S_NO_ERROR);
  EXPECT_TRUE(released());
}

TEST_F(ProviderIdleTest, ARequestInProgressKeepsItsProvider) {
  veltwmi::test::holdEnumerations(true);  // the enumeration stops after its first gadget
  const velt::UniqueBstr className = velt::bstrFromUtf16(u"Gadget");
  ComPtr<RecordingSink> sink(RecordingSink::create());
  auto request = std::async(std::launch::async, [&] {
    return m_ns->CreateInstanceEnumAsync(className.get(), 0, nullptr, sink.get());
  });
  ASSERT_TRUE(sink->waitForObjects(1, kWait));
  std::this_thread::sleep_for(milliseconds(kIdleMs * 6));
  EXPECT_EQ(m_service->activeProviderCount(), 1u);
  veltwmi::test::holdEnumerations(false);
  EXPECT_EQ(sink->waitForFinalStatus(kWait), WBEM_S_NO_ERROR);
  EXPECT_EQ(request.get(), WBEM_S_NO_ERROR);
  EXPECT_TRUE(released());
}

}  // namespace
}  // namespace velt::wmi::test
