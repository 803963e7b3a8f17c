// Synchronous and semisynchronous calls on a provider in a process of its own: the enumerators
// and call results it answers with live there, and this process reads them through proxies.
#include <gtest/gtest.h>
#include <owners/owned_variant.h>
#include <owners/utf_text.h>
#include <winplatform/registry_hooks.h>

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <set>
#include <string>
#include <vector>

#include "child_process.h"
#include "gadget_process_fixture.h"
#include "gadget_provider.h"
#include "temp_dir.h"
#include "wmi_model/com_object.h"
#include "wmi_model/objects.h"
#include "wmi_model/recording_sink.h"
#include "wmi_test_support.h"

namespace velt::wmi::test {
namespace {

namespace fs = std::filesystem;
using velt::ComPtr;
using velt::test::processesOf;
using velt::test::within;
constexpr LONG kInfinite = LONG(WBEM_INFINITE);
constexpr LONG kSemisynchronous = WBEM_FLAG_RETURN_IMMEDIATELY | WBEM_FLAG_FORWARD_ONLY;

// The objects one Next handed out, released with the batch.
struct Batch {
  std::vector<IWbemClassObject*> objects;
  ULONG returned = 0;
  HRESULT status = E_UNEXPECTED;

  explicit Batch(ULONG count) : objects(count, nullptr) {}
  Batch(Batch&& other) noexcept
      : objects(std::move(other.objects)), returned(other.returned), status(other.status) {
    other.returned = 0;
  }
  Batch(const Batch&) = delete;
  ~Batch() {
    for (ULONG i = 0; i < returned; ++i) objects[i]->Release();
  }
  static Batch next(IEnumWbemClassObject* enumerator, LONG timeout, ULONG count) {
    Batch batch(count);
    batch.status = enumerator->Next(timeout, count, batch.objects.data(), &batch.returned);
    return batch;
  }
  std::vector<std::u16string> names() const {
    std::vector<std::u16string> all;
    for (ULONG i = 0; i < returned; ++i) all.push_back(getText(objects[i], u"Name"));
    return all;
  }
};

LONG sizeOf(IWbemClassObject* object) {
  velt::OwnedVariant size;
  object->Get(u"Size", 0, size.get(), nullptr, nullptr);
  return size.value().vt == VT_I4 ? size.value().lVal : -1;
}

class RemoteEnumeratorTest : public GadgetProcessFixture {
 protected:
  void TearDown() override {
    m_provider = {};
    GadgetProcessFixture::TearDown();
  }

  // The gadget provider in its server process, initialised with this process's namespace.
  IWbemServices* provider() {
    if (m_provider) return m_provider.get();
    ComPtr<IWbemProviderInit> init;
    EXPECT_EQ(CoCreateInstance(veltwmi::test::CLSID_GadgetProvider, nullptr, CLSCTX_LOCAL_SERVER,
                               IID_IWbemProviderInit, reinterpret_cast<void**>(init.put())),
              S_OK);
    if (!init) return nullptr;
    std::u16string nameSpace = u"root\\test";
    EXPECT_EQ(
        init->Initialize(nullptr, 0, nameSpace.data(), nullptr, m_ns.get(), nullptr, &m_initStatus),
        WBEM_S_NO_ERROR);
    EXPECT_EQ(m_initStatus.reported.load(), WBEM_S_INITIALIZED);
    init->QueryInterface(IID_IWbemServices, reinterpret_cast<void**>(m_provider.put()));
    return m_provider.get();
  }
  ComPtr<IWbemContext> asking(std::initializer_list<std::pair<const char16_t*, LONG>> values) {
    ComPtr<IWbemContext> context;
    createContext(context.put());
    for (const auto& [name, number] : values) {
      VARIANT value;
      value.vt = VT_I4;
      value.lVal = number;
      context->SetValue(name, 0, &value);
    }
    return context;
  }
  ComPtr<IEnumWbemClassObject> enumerate(LONG flags, IWbemContext* context) {
    ComPtr<IEnumWbemClassObject> enumerator;
    EXPECT_EQ(provider()->CreateInstanceEnum(m_gadget.get(), flags, context, enumerator.put()),
              WBEM_S_NO_ERROR);
    return enumerator;
  }

  InitStatus m_initStatus;
  ComPtr<IWbemServices> m_provider;
  const velt::UniqueBstr m_gadget = velt::bstrFromUtf16(u"Gadget");
};

TEST_F(RemoteEnumeratorTest, ManyInstancesCrossInBatchesEachOnceAndEachACopyOfItsOwn) {
  constexpr LONG kCount = 2500;
  constexpr ULONG kBatch = 100;
  ComPtr<IEnumWbemClassObject> enumerator =
      enumerate(kSemisynchronous, asking({{u"GadgetCount", kCount}}).get());
  ASSERT_TRUE(enumerator);
  std::vector<Batch> batches;
  std::set<IWbemClassObject*> distinct;
  for (;;) {
    Batch batch = Batch::next(enumerator.get(), kInfinite, kBatch);
    if (batch.status != WBEM_S_NO_ERROR) {
      // The end: fewer than asked (here none, the count being a multiple of the batch).
      EXPECT_EQ(batch.status, WBEM_S_FALSE);
      EXPECT_EQ(batch.returned, 0u);
      break;
    }
    ASSERT_EQ(batch.returned, kBatch) << "a Next that succeeds hands out all it was asked";
    for (ULONG i = 0; i < batch.returned; ++i) distinct.insert(batch.objects[i]);
    batches.push_back(std::move(batch));
  }
  ASSERT_EQ(batches.size() * kBatch, std::size_t(kCount));
  EXPECT_EQ(distinct.size(), std::size_t(kCount));
  LONG expected = 0;
  for (const Batch& batch : batches) {
    for (ULONG i = 0; i < batch.returned; ++i, ++expected) {
      EXPECT_EQ(getText(batch.objects[i], u"Name"),
                u"n" + velt::utf16FromUtf8(std::to_string(expected)));
      EXPECT_EQ(sizeOf(batch.objects[i]), expected);
    }
  }
  // Objects of one batch share their class's layout but not their values.
  putInt(batches[0].objects[0], u"Size", 4242);
  EXPECT_EQ(sizeOf(batches[0].objects[1]), 1);
  EXPECT_EQ(Batch::next(enumerator.get(), 0, 1).status, WBEM_S_FALSE) << "and stays ended";

  // A forward-only enumerator keeps nothing to go back to.
  ComPtr<IEnumWbemClassObject> copy;
  EXPECT_EQ(enumerator->Reset(), WBEM_E_INVALID_OPERATION);
  EXPECT_EQ(enumerator->Clone(copy.put()), WBEM_E_INVALID_OPERATION);
  EXPECT_FALSE(copy);

  // A synchronous enumeration is whole when the call returns.
  ComPtr<IEnumWbemClassObject> gadgets = enumerate(0, nullptr);
  ASSERT_TRUE(gadgets);
  Batch all = Batch::next(gadgets.get(), 0, 10);
  EXPECT_EQ(all.status, WBEM_S_FALSE);
  EXPECT_EQ(all.names(), (std::vector<std::u16string>{u"g0", u"g1", u"g2"}));
}

TEST_F(RemoteEnumeratorTest, CloneResetSkipAndNextAsyncKeepTheirPositionsAcrossTheBoundary) {
  ComPtr<IEnumWbemClassObject> enumerator = enumerate(0, asking({{u"GadgetCount", 10}}).get());
  ASSERT_TRUE(enumerator);
  EXPECT_EQ(enumerator->Skip(kInfinite, 3), WBEM_S_NO_ERROR);
  ComPtr<IEnumWbemClassObject> clone;
  ASSERT_EQ(enumerator->Clone(clone.put()), WBEM_S_NO_ERROR);
  ASSERT_TRUE(clone);
  EXPECT_EQ(Batch::next(enumerator.get(), kInfinite, 2).names(),
            (std::vector<std::u16string>{u"n3", u"n4"}));
  EXPECT_EQ(Batch::next(clone.get(), kInfinite, 1).names(), (std::vector<std::u16string>{u"n3"}))
      << "a clone goes on from where its original was";
  ASSERT_EQ(enumerator->Reset(), WBEM_S_NO_ERROR);
  EXPECT_EQ(Batch::next(enumerator.get(), kInfinite, 1).names(),
            (std::vector<std::u16string>{u"n0"}));
  EXPECT_EQ(clone->Skip(kInfinite, 100), WBEM_S_FALSE);
  Batch none = Batch::next(clone.get(), kInfinite, 1);
  EXPECT_EQ(none.status, WBEM_S_FALSE);
  EXPECT_EQ(none.returned, 0u);
  EXPECT_EQ(clone->NextAsync(1, ComPtr<RecordingSink>(RecordingSink::create()).get()), WBEM_S_FALSE)
      << "nothing left to deliver";

  // NextAsync hands the next objects to a sink of this process, then its status.
  ComPtr<RecordingSink> sink(RecordingSink::create());
  ASSERT_EQ(enumerator->NextAsync(4, sink.get()), WBEM_S_NO_ERROR);
  EXPECT_EQ(sink->waitForFinalStatus(kWait), WBEM_S_NO_ERROR);
  std::vector<std::u16string> names;
  for (IWbemClassObject* object : sink->objects()) names.push_back(getText(object, u"Name"));
  EXPECT_EQ(names, (std::vector<std::u16string>{u"n1", u"n2", u"n3", u"n4"}));
  EXPECT_EQ(Batch::next(enumerator.get(), kInfinite, 1).names(),
            (std::vector<std::u16string>{u"n5"}));
  EXPECT_EQ(enumerator->Skip(-5, 1), WBEM_E_INVALID_PARAMETER);
}

TEST_F(RemoteEnumeratorTest, NextOnASlowProducerReturnsWhatCameWhenItsTimeoutPasses) {
  // One gadget at once, then one a second.
  ComPtr<IEnumWbemClassObject> enumerator =
      enumerate(kSemisynchronous, asking({{u"GadgetCount", 3}, {u"GadgetPauseMs", 1000}}).get());
  ASSERT_TRUE(enumerator);
  Batch early = Batch::next(enumerator.get(), 50, 3);
  EXPECT_EQ(early.status, WBEM_S_TIMEDOUT);
  EXPECT_LT(early.returned, 3u);
  Batch rest = Batch::next(enumerator.get(), kInfinite, 3 - early.returned);
  EXPECT_EQ(rest.status, WBEM_S_NO_ERROR);
  std::vector<std::u16string> names = early.names(), more = rest.names();
  names.insert(names.end(), more.begin(), more.end());
  EXPECT_EQ(names, (std::vector<std::u16string>{u"n0", u"n1", u"n2"}));
  EXPECT_EQ(Batch::next(enumerator.get(), kInfinite, 1).status, WBEM_S_FALSE);
  EXPECT_EQ(Batch::next(enumerator.get(), -7, 1).status, WBEM_E_INVALID_PARAMETER);
}

TEST_F(RemoteEnumeratorTest, SemisynchronousGetObjectAnswersThroughItsCallResult) {
  const velt::UniqueBstr g1 = velt::bstrFromUtf16(u"Gadget.Name=\"g1\""),
                         missing = velt::bstrFromUtf16(u"Gadget.Name=\"Missing\"");
  ComPtr<IWbemContext> slow = asking({{u"GadgetPauseMs", 1000}});
  ComPtr<IWbemCallResult> result;
  ASSERT_EQ(provider()->GetObject(g1.get(), WBEM_FLAG_RETURN_IMMEDIATELY, slow.get(), nullptr,
                                  result.put()),
            WBEM_S_NO_ERROR);
  ASSERT_TRUE(result);
  LONG status = 12345;
  ComPtr<IWbemClassObject> object;
  EXPECT_EQ(result->GetCallStatus(WBEM_NO_WAIT, &status), WBEM_S_TIMEDOUT);
  EXPECT_EQ(status, 12345);
  EXPECT_EQ(result->GetResultObject(50, object.put()), WBEM_S_TIMEDOUT);
  EXPECT_FALSE(object);
  ASSERT_EQ(result->GetResultObject(kInfinite, object.put()), WBEM_S_NO_ERROR);
  ASSERT_TRUE(object);
  EXPECT_EQ(getText(object.get(), u"Name"), u"g1");
  EXPECT_EQ(sizeOf(object.get()), 1);
  EXPECT_EQ(result->GetCallStatus(WBEM_NO_WAIT, &status), WBEM_S_NO_ERROR);
  EXPECT_EQ(status, WBEM_S_NO_ERROR);
  BSTR text = nullptr;
  ComPtr<IWbemServices> services;
  EXPECT_EQ(result->GetResultString(0, &text), WBEM_E_INVALID_OPERATION) << "a get has no path";
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(result->GetResultServices(0, services.put()), WBEM_E_INVALID_OPERATION);

  // A failure is the call's status, and what every result answers.
  ComPtr<IWbemCallResult> failed;
  ASSERT_EQ(provider()->GetObject(missing.get(), WBEM_FLAG_RETURN_IMMEDIATELY, nullptr, nullptr,
                                  failed.put()),
            WBEM_S_NO_ERROR);
  EXPECT_EQ(failed->GetCallStatus(kInfinite, &status), WBEM_S_NO_ERROR);
  EXPECT_EQ(status, WBEM_E_NOT_FOUND);
  EXPECT_EQ(failed->GetResultObject(kInfinite, object.put()), WBEM_E_NOT_FOUND);

  // A synchronous call may ask for its call result too.
  ComPtr<IWbemCallResult> done;
  ASSERT_EQ(provider()->GetObject(g1.get(), 0, nullptr, object.put(), done.put()), WBEM_S_NO_ERROR);
  EXPECT_EQ(getText(object.get(), u"Name"), u"g1");
  ASSERT_TRUE(done);
  EXPECT_EQ(done->GetCallStatus(WBEM_NO_WAIT, &status), WBEM_S_NO_ERROR);
}

// A server that dies ends a Next that waits for it at once, not when some wait runs out.
TEST_F(RemoteEnumeratorTest, ServerKilledDuringNextFailsItPromptlyWithDisconnection) {
  setenv("VELT_GADGET_HOLD_ENUMERATIONS", "1", 1);  // the server stops after the first gadget
  ComPtr<IEnumWbemClassObject> enumerator = enumerate(kSemisynchronous, nullptr);
  ASSERT_TRUE(enumerator);
  EXPECT_EQ(Batch::next(enumerator.get(), kInfinite, 1).names(),
            (std::vector<std::u16string>{u"g0"}));
  auto waiting = std::async(std::launch::async,
                            [&] { return Batch::next(enumerator.get(), kInfinite, 5).status; });
  std::vector<pid_t> servers = processesOf(m_server);
  ASSERT_EQ(servers.size(), 1u);
  ASSERT_EQ(kill(servers[0], SIGKILL), 0);
  // The held enumeration would go on for 20 s.
  ASSERT_EQ(waiting.wait_for(std::chrono::seconds(15)), std::future_status::ready);
  EXPECT_EQ(waiting.get(), RPC_E_DISCONNECTED);
  EXPECT_EQ(enumerator->Skip(0, 1), RPC_E_DISCONNECTED);
  ComPtr<IEnumWbemClassObject> clone;
  EXPECT_EQ(enumerator->Reset(), RPC_E_DISCONNECTED);
}

}  // namespace
}  // namespace velt::wmi::test
