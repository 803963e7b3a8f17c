// The service's side of a dynamic class: each event a whole copy for every subscriber, and the
// faults of a request's arguments and paths answered before any provider is asked. The provider
// is the gadget server, run in this process as its local server.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "gadget_namespace_test.h"
#include "wmi_test_support.h"

namespace velt::wmi::test {
namespace {

class ProviderRoutingTest : public GadgetNamespaceTest {
 protected:
  HRESULT put(IWbemClassObject* gadget) {
    return run([&](IWbemObjectSink* s) { return m_ns->PutInstanceAsync(gadget, 0, nullptr, s); });
  }
};

// Clients enumerate the properties of the events they receive at once, each from its own
// thread: every client must get an object of its own, or they take each other's position.
TEST_F(ProviderRoutingTest, EverySubscriberGetsItsOwnWholeCopyOfEachEvent) {
  constexpr int kSubscribers = 8, kEvents = 25;
  std::vector<RecordingSink*> subscribers;
  for (int i = 0; i < kSubscribers; ++i) {
    subscribers.push_back(RecordingSink::create());
    ASSERT_EQ(subscribe(m_ns.get(), subscribers.back()), WBEM_S_NO_ERROR);
  }
  ComPtr<IWbemClassObject> gadget = veltwmi::test::newGadget(m_ns.get(), u"hot", 1);
  for (int i = 0; i < kEvents; ++i) EXPECT_EQ(put(gadget.get()), WBEM_S_NO_ERROR);
  for (RecordingSink* s : subscribers) ASSERT_TRUE(s->waitForObjects(kEvents, kWait));
  EXPECT_NE(subscribers[0]->objects()[0], subscribers[1]->objects()[0]);

  auto namesOf = [](IWbemClassObject* event) {
    std::vector<std::u16string> names;
    event->BeginEnumeration(WBEM_FLAG_NONSYSTEM_ONLY);
    BSTR name = nullptr;
    while (event->Next(0, &name, nullptr, nullptr, nullptr) == WBEM_S_NO_ERROR) {
      names.emplace_back(name);
      SysFreeString(name);
    }
    event->EndEnumeration();
    return names;
  };
  const std::vector<std::u16string> whole{u"Name", u"Size"};
  std::vector<std::thread> clients;
  std::atomic<int> broken{0};
  for (RecordingSink* s : subscribers) {
    clients.emplace_back([&, s] {
      for (IWbemClassObject* event : s->objects()) broken += namesOf(event) != whole;
    });
  }
  for (std::thread& t : clients) t.join();
  EXPECT_EQ(broken, 0);
  for (RecordingSink* s : subscribers) {
    EXPECT_EQ(m_ns->CancelAsyncCall(s), WBEM_S_NO_ERROR);
    s->Release();
  }
}

TEST_F(ProviderRoutingTest, ArgumentAndPathFaultsAreAnswered) {
  RecordingSink* sink = RecordingSink::create();
  EXPECT_EQ(m_ns->GetObjectAsync(nullptr, 0, nullptr, sink), WBEM_E_INVALID_PARAMETER);
  sink->Release();
  velt::UniqueBstr bad = velt::bstrFromUtf16(u"Gadget."),
                   unknown = velt::bstrFromUtf16(u"Nothing.Id=1"),
                   klass = velt::bstrFromUtf16(u"Nothing");
  EXPECT_EQ(run([&](IWbemObjectSink* s) { return m_ns->GetObjectAsync(bad.get(), 0, nullptr, s); }),
            WBEM_E_INVALID_OBJECT_PATH);
  EXPECT_EQ(
      run([&](IWbemObjectSink* s) { return m_ns->GetObjectAsync(unknown.get(), 0, nullptr, s); }),
      WBEM_E_INVALID_CLASS);
  IWbemClassObject* none = nullptr;
  EXPECT_EQ(m_ns->GetObject(klass.get(), 0, nullptr, &none, nullptr), WBEM_E_NOT_FOUND);
}

}  // namespace
}  // namespace velt::wmi::test
