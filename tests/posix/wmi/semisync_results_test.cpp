// The enumerators and call results that synchronous and semisynchronous calls answer with,
// where their producer and reader part ways: one that stops reading, one whose producer fails.
#include <gtest/gtest.h>
#include <owners/utf_text.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "child_process.h"
#include "gadget_provider.h"
#include "wmi_model/com_object.h"
#include "wmi_model/objects.h"
#include "wmi_model/semisync_results.h"
#include "wmi_test_support.h"

namespace velt::wmi::test {
namespace {

using velt::ComPtr;
using velt::test::within;

class SemisyncResultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_service.loadMofText(veltwmi::test::kGadgetMof, "gadgets.mof");
    ASSERT_EQ(m_service.openNamespace(u"root\\test", m_ns.put()), WBEM_S_NO_ERROR);
    m_gadget = ComPtr<IWbemClassObject>(classOf(m_ns.get(), u"Gadget"));
    ASSERT_TRUE(m_gadget);
  }
  void TearDown() override {
    m_gadget = {};
    m_ns = {};
    m_service.shutdown();
  }

  Service m_service;
  ComPtr<IWbemServices> m_ns;
  ComPtr<IWbemClassObject> m_gadget;
};

// A forward-only semisynchronous enumeration holds its producer once enough waits, so an
// enumeration nobody reads never sits whole in memory; letting the enumerator go frees the
// producer with a failure instead of leaving it waiting for good.
TEST_F(SemisyncResultsTest, AnUnreadForwardOnlyEnumerationHoldsItsProducerUntilLetGo) {
  ComPtr<IEnumWbemClassObject> enumerator;
  ComPtr<IWbemObjectSink> sink;
  ASSERT_EQ(createResultEnumerator(WBEM_FLAG_RETURN_IMMEDIATELY | WBEM_FLAG_FORWARD_ONLY,
                                   enumerator.put(), sink.put()),
            WBEM_S_NO_ERROR);
  std::atomic<long> accepted{0};
  std::atomic<bool> finished{false};
  std::atomic<HRESULT> last{S_OK};
  std::thread producer([&] {
    for (long i = 0; i < 100000; ++i) {
      IWbemClassObject* one = m_gadget.get();
      HRESULT status = sink->Indicate(1, &one);
      last = status;
      if (FAILED(status)) break;
      ++accepted;
    }
    finished = true;
  });
  ASSERT_TRUE(within(std::chrono::seconds(20), [&] { return finished || accepted >= 4096; }));
  EXPECT_FALSE(finished) << "the producer ran on with nobody reading";

  // What a reader takes makes room for as much again.
  std::vector<IWbemClassObject*> taken(100, nullptr);
  ULONG returned = 0;
  ASSERT_EQ(enumerator->Next(WBEM_INFINITE, 100, taken.data(), &returned), WBEM_S_NO_ERROR);
  for (ULONG i = 0; i < returned; ++i) taken[i]->Release();
  EXPECT_TRUE(within(std::chrono::seconds(20), [&] { return accepted >= 4196; }));

  enumerator = {};
  producer.join();
  EXPECT_LT(accepted.load(), 100000);
  EXPECT_EQ(last.load(), WBEM_E_CALL_CANCELLED);
}

// A failed enumeration hands out what came before the failure, then says it ended short,
// then answers the failure; a call result answers the failure from every question.
TEST_F(SemisyncResultsTest, AFailureComesAfterWhatWasMadeBeforeIt) {
  ComPtr<IEnumWbemClassObject> enumerator;
  ComPtr<IWbemObjectSink> sink;
  ASSERT_EQ(createResultEnumerator(0, enumerator.put(), sink.put()), WBEM_S_NO_ERROR);
  IWbemClassObject* one = m_gadget.get();
  sink->Indicate(1, &one);
  sink->SetStatus(WBEM_STATUS_COMPLETE, WBEM_E_ACCESS_DENIED, nullptr, nullptr);
  IWbemClassObject* objects[2] = {};
  ULONG returned = 0;
  EXPECT_EQ(enumerator->Next(0, 2, objects, &returned), WBEM_S_FALSE);
  ASSERT_EQ(returned, 1u);
  objects[0]->Release();
  EXPECT_EQ(enumerator->Next(0, 2, objects, &returned), WBEM_E_ACCESS_DENIED);
  EXPECT_EQ(returned, 0u);
  EXPECT_EQ(enumerator->Reset(), WBEM_S_NO_ERROR);
  EXPECT_EQ(enumerator->Skip(0, 1), WBEM_S_NO_ERROR);
  EXPECT_EQ(enumerator->Skip(0, 1), WBEM_E_ACCESS_DENIED);

  // A write's call result answers the instance's path as its string.
  ComPtr<IWbemCallResult> written;
  ComPtr<IWbemObjectSink> writing;
  ASSERT_EQ(createCallResult(nullptr, written.put(), writing.put()), WBEM_S_NO_ERROR);
  const velt::UniqueBstr path = velt::bstrFromUtf16(u"Gadget.Name=\"g9\"");
  writing->SetStatus(WBEM_STATUS_COMPLETE, WBEM_S_NO_ERROR, path.get(), nullptr);
  BSTR text = nullptr;
  ASSERT_EQ(written->GetResultString(0, &text), WBEM_S_NO_ERROR);
  EXPECT_EQ(std::u16string(text), u"Gadget.Name=\"g9\"");
  SysFreeString(text);

  ComPtr<IWbemCallResult> failed;
  ComPtr<IWbemObjectSink> failing;
  ASSERT_EQ(createCallResult(m_ns.get(), failed.put(), failing.put()), WBEM_S_NO_ERROR);
  failing->SetStatus(WBEM_STATUS_COMPLETE, WBEM_E_INVALID_NAMESPACE, nullptr, nullptr);
  ComPtr<IWbemServices> services;
  ComPtr<IWbemClassObject> object;
  EXPECT_EQ(failed->GetResultServices(0, services.put()), WBEM_E_INVALID_NAMESPACE);
  EXPECT_FALSE(services);
  EXPECT_EQ(failed->GetResultObject(0, object.put()), WBEM_E_INVALID_NAMESPACE);
  EXPECT_EQ(failed->GetResultString(0, &text), WBEM_E_INVALID_NAMESPACE);
  EXPECT_EQ(text, nullptr);
}

}  // namespace
}  // namespace velt::wmi::test
