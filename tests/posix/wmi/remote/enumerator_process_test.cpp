// Synchronous and semisynchronous calls on a provider in a process of its own: the enumerators
// and call results it answers with live there, and this process reads them through proxies.
#include <gtest/gtest.h>
#include <owners/utf_text.h>

#include <signal.h>

#include <future>
#include <set>
#include <string>
#include <vector>

#include "gadget_process_fixture.h"

namespace velt::wmi::test {
namespace {

using velt::ComPtr;
using velt::test::processesOf;
using veltwmi::test::gadgetContext;
constexpr LONG kInfinite = LONG(WBEM_INFINITE);
constexpr LONG kSemisynchronous = WBEM_FLAG_RETURN_IMMEDIATELY | WBEM_FLAG_FORWARD_ONLY;

// The objects one Next handed out, held, and its status.
struct Batch {
  std::vector<ComPtr<IWbemClassObject>> objects;
  HRESULT status = E_UNEXPECTED;

  static Batch next(IEnumWbemClassObject* enumerator, LONG timeout, ULONG count) {
    std::vector<IWbemClassObject*> handed(count, nullptr);
    ULONG returned = 0;
    Batch batch{{}, enumerator->Next(timeout, count, handed.data(), &returned)};
    for (ULONG i = 0; i < returned; ++i) batch.objects.emplace_back(handed[i]);
    return batch;
  }
  ULONG returned() const { return ULONG(objects.size()); }
  std::vector<std::u16string> names() const {
    std::vector<std::u16string> all;
    for (const ComPtr<IWbemClassObject>& object : objects) {
      all.push_back(getText(object.get(), u"Name"));
    }
    return all;
  }
};

class RemoteEnumeratorTest : public GadgetProcessFixture {
 protected:
  void TearDown() override {
    m_provider = {};
    GadgetProcessFixture::TearDown();
  }

  // The gadget provider in its server process, initialised with this process's namespace.
  IWbemServices* provider() {
    if (!m_provider) m_provider = initializedProvider();
    return m_provider.get();
  }
  ComPtr<IEnumWbemClassObject> enumerate(LONG flags, IWbemContext* context) {
    ComPtr<IEnumWbemClassObject> enumerator;
    EXPECT_EQ(provider()->CreateInstanceEnum(m_gadget.get(), flags, context, enumerator.put()),
              WBEM_S_NO_ERROR);
    return enumerator;
  }

  ComPtr<IWbemServices> m_provider;
  const velt::UniqueBstr m_gadget = velt::bstrFromUtf16(u"Gadget");
};

TEST_F(RemoteEnumeratorTest, ManyInstancesCrossInBatchesEachOnceAndEachACopyOfItsOwn) {
  constexpr LONG kCount = 2500;
  constexpr ULONG kBatch = 100;
  ComPtr<IEnumWbemClassObject> enumerator =
      enumerate(kSemisynchronous, gadgetContext(u"GadgetCount", kCount).get());
  ASSERT_TRUE(enumerator);
  std::vector<Batch> batches;
  std::set<IWbemClassObject*> distinct;
  for (;;) {
    Batch batch = Batch::next(enumerator.get(), kInfinite, kBatch);
    if (batch.status != WBEM_S_NO_ERROR) {
      // The end: fewer than asked (here none, the count being a multiple of the batch).
      EXPECT_EQ(batch.status, WBEM_S_FALSE);
      EXPECT_EQ(batch.returned(), 0u);
      break;
    }
    ASSERT_EQ(batch.returned(), kBatch) << "a Next that succeeds hands out all it was asked";
    for (ULONG i = 0; i < batch.returned(); ++i) distinct.insert(batch.objects[i].get());
    batches.push_back(std::move(batch));
  }
  ASSERT_EQ(batches.size() * kBatch, std::size_t(kCount));
  EXPECT_EQ(distinct.size(), std::size_t(kCount));
  LONG expected = 0;
  for (const Batch& batch : batches) {
    for (ULONG i = 0; i < batch.returned(); ++i, ++expected) {
      EXPECT_EQ(getText(batch.objects[i].get(), u"Name"),
                u"n" + velt::utf16FromUtf8(std::to_string(expected)));
      EXPECT_EQ(getInt(batch.objects[i].get(), u"Size"), expected);
    }
  }
  // Objects of one batch share their class's layout but not their values.
  putInt(batches[0].objects[0].get(), u"Size", 4242);
  EXPECT_EQ(getInt(batches[0].objects[1].get(), u"Size"), 1);
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
  ComPtr<IEnumWbemClassObject> enumerator = enumerate(0, gadgetContext(u"GadgetCount", 10).get());
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
  EXPECT_EQ(none.returned(), 0u);
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
  ComPtr<IEnumWbemClassObject> enumerator = enumerate(
      kSemisynchronous, gadgetContext({{u"GadgetCount", 3}, {u"GadgetPauseMs", 1000}}).get());
  ASSERT_TRUE(enumerator);
  Batch early = Batch::next(enumerator.get(), 50, 3);
  EXPECT_EQ(early.status, WBEM_S_TIMEDOUT);
  EXPECT_LT(early.returned(), 3u);
  Batch rest = Batch::next(enumerator.get(), kInfinite, 3 - early.returned());
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
  ComPtr<IWbemContext> slow = gadgetContext(u"GadgetPauseMs", 1000);
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
  EXPECT_EQ(getInt(object.get(), u"Size"), 1);
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
  EXPECT_EQ(enumerator->Reset(), RPC_E_DISCONNECTED);
}

}  // namespace
}  // namespace velt::wmi::test
