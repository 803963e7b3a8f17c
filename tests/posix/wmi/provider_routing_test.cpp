// The service's side of a dynamic class: activation through the registry, one provider per
// namespace, results and statuses carried back, and each event a whole copy for every
// subscriber (cancelling a subscription is the query routing test's). The provider is the tools'
// gadget server, run in this process as its local server; the tools' session tests cover a class
// whose server is not registered.
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

TEST_F(ProviderRoutingTest, ResultsAndStatusesTravelBetweenClientAndProvider) {
  IWbemContext* context = nullptr;
  createContext(&context);
  velt::UniqueBstr path = velt::bstrFromUtf16(u"Gadget.Name=\"g1\""),
                   missing = velt::bstrFromUtf16(u"Gadget.Name=\"Missing\"");
  RecordingSink* got = nullptr;
  EXPECT_EQ(run([&](IWbemObjectSink* s) { return m_ns->GetObjectAsync(path.get(), 0, context, s); },
                &got),
            WBEM_S_NO_ERROR);
  ASSERT_EQ(got->objects().size(), 1u);
  EXPECT_EQ(getText(got->objects()[0], u"__RELPATH"), u"Gadget.Name=\"g1\"");
  std::vector<SinkEvent> events = got->events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].kind, SinkEvent::kIndicate);
  EXPECT_EQ(events[1].kind, SinkEvent::kSetStatus);
  got->Release();
  context->Release();
  // The provider's failure status reaches the client's sink.
  EXPECT_EQ(
      run([&](IWbemObjectSink* s) { return m_ns->GetObjectAsync(missing.get(), 0, nullptr, s); }),
      WBEM_E_NOT_FOUND);

  // One provider object served everything; TearDown proves it and its server are gone.
  EXPECT_EQ(m_service->activeProviderCount(), 1u);
}

// Clients enumerate the properties of the events they receive at once, each from its own
// thread: every client must get an object of its own, or they take each other's position.
TEST_F(ProviderRoutingTest, EverySubscriberGetsItsOwnWholeCopyOfEachEvent) {
  constexpr int kSubscribers = 8, kEvents = 25;
  std::vector<RecordingSink*> subscribers;
  for (int i = 0; i < kSubscribers; ++i) {
    subscribers.push_back(RecordingSink::create());
    ASSERT_EQ(subscribe(m_ns.get(), subscribers.back()), WBEM_S_NO_ERROR);
  }
  IWbemClassObject* cls = classOf(m_ns.get(), u"Gadget");
  IWbemClassObject* gadget = nullptr;
  cls->SpawnInstance(0, &gadget);
  putText(gadget, u"Name", u"hot");
  for (int i = 0; i < kEvents; ++i) EXPECT_EQ(put(gadget), WBEM_S_NO_ERROR);
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
  gadget->Release();
  cls->Release();
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
