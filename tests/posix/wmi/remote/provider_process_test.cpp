// A provider in a process of its own, reached as WMI reaches one: COM starts the registered
// server, the service initialises it with a namespace that is a capability back into the
// service, and requests, results, statuses and events cross both ways.
#include <gtest/gtest.h>
#include <unistd.h>
#include <winplatform/posix_hooks.h>
#include <winplatform/registry_hooks.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
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
using Clock = std::chrono::steady_clock;
using velt::ComPtr;

using velt::test::processesOf;
using velt::test::within;

// A gadget client program in a process of its own; its standard input holds it.
class ClientProcess : public velt::test::ChildProcess {
 public:
  explicit ClientProcess(std::vector<std::string> arguments)
      : ChildProcess(GADGET_CLIENT, std::move(arguments)) {}
};

class ProviderProcessTest : public GadgetProcessFixture {
 protected:
  ComPtr<IWbemClassObject> gadget(const char16_t* name, LONG size) {
    ComPtr<IWbemClassObject> cls(classOf(m_ns.get(), u"Gadget"));
    ComPtr<IWbemClassObject> instance;
    cls->SpawnInstance(0, instance.put());
    putText(instance.get(), u"Name", name);
    putInt(instance.get(), u"Size", size);
    return instance;
  }
  // The one server process, once it runs.
  pid_t theServer() {
    std::vector<pid_t> servers;
    within(kWait, [&] { return (servers = processesOf(m_server)).size() == 1; });
    return servers.size() == 1 ? servers[0] : -1;
  }
  HRESULT getG1() {
    const velt::UniqueBstr path = velt::bstrFromUtf16(u"Gadget.Name=\"g1\"");
    return runRequest(
        [&](IWbemObjectSink* s) { return m_ns->GetObjectAsync(path.get(), 0, nullptr, s); });
  }
  LONG sizeOf(IWbemClassObject* object) {
    velt::OwnedVariant size;
    object->Get(u"Size", 0, size.get(), nullptr, nullptr);
    return size.value().vt == VT_I4 ? size.value().lVal : -1;
  }
};

TEST_F(ProviderProcessTest, ServiceRequestsResultsStatusesAndEventsCrossToTheServerProcess) {
  const velt::UniqueBstr path = velt::bstrFromUtf16(u"Gadget.Name=\"g1\""),
                         missing = velt::bstrFromUtf16(u"Gadget.Name=\"Missing\"");
  ComPtr<RecordingSink> got;
  // The provider makes its answer from the class it asks the service for through the namespace
  // it was handed: a capability back into this process.
  ASSERT_EQ(runRequest(
                [&](IWbemObjectSink* s) { return m_ns->GetObjectAsync(path.get(), 0, nullptr, s); },
                &got),
            WBEM_S_NO_ERROR);
  ASSERT_EQ(got->objects().size(), 1u);
  EXPECT_EQ(getText(got->objects()[0], u"__RELPATH"), u"Gadget.Name=\"g1\"");
  EXPECT_EQ(sizeOf(got->objects()[0]), 1);
  std::vector<pid_t> servers = processesOf(m_server);
  ASSERT_EQ(servers.size(), 1u);
  EXPECT_NE(servers[0], getpid());
  EXPECT_EQ(runRequest([&](IWbemObjectSink* s) {
              return m_ns->GetObjectAsync(missing.get(), 0, nullptr, s);
            }),
            WBEM_E_NOT_FOUND);

  // An instance written crosses by value and is kept by the server.
  ComPtr<IWbemClassObject> hot = gadget(u"hot", 5);
  EXPECT_EQ(runRequest([&](IWbemObjectSink* s) {
              return m_ns->PutInstanceAsync(hot.get(), 0, nullptr, s);
            }),
            WBEM_S_NO_ERROR);
  const velt::UniqueBstr hotPath = velt::bstrFromUtf16(u"Gadget.Name=\"hot\"");
  ASSERT_EQ(
      runRequest(
          [&](IWbemObjectSink* s) { return m_ns->GetObjectAsync(hotPath.get(), 0, nullptr, s); },
          &got),
      WBEM_S_NO_ERROR);
  ASSERT_EQ(got->objects().size(), 1u);
  EXPECT_EQ(sizeOf(got->objects()[0]), 5);

  const velt::UniqueBstr className = velt::bstrFromUtf16(u"Gadget");
  ASSERT_EQ(runRequest(
                [&](IWbemObjectSink* s) {
                  return m_ns->CreateInstanceEnumAsync(className.get(), 0, nullptr, s);
                },
                &got),
            WBEM_S_NO_ERROR);
  EXPECT_EQ(got->objects().size(), 4u);

  // A method: its in-parameters cross by value, its out-parameters come back the same way.
  ComPtr<IWbemClassObject> cls(classOf(m_ns.get(), u"Gadget"));
  ComPtr<IWbemClassObject> inDefinition, in;
  ASSERT_EQ(cls->GetMethod(u"Grow", 0, inDefinition.put(), nullptr), WBEM_S_NO_ERROR);
  inDefinition->SpawnInstance(0, in.put());
  putInt(in.get(), u"By", 3);
  const velt::UniqueBstr grow = velt::bstrFromUtf16(u"Grow");
  ASSERT_EQ(runRequest(
                [&](IWbemObjectSink* s) {
                  return m_ns->ExecMethodAsync(path.get(), grow.get(), 0, nullptr, in.get(), s);
                },
                &got),
            WBEM_S_NO_ERROR);
  ASSERT_EQ(got->objects().size(), 1u);
  velt::OwnedVariant newSize;
  got->objects()[0]->Get(u"NewSize", 0, newSize.get(), nullptr, nullptr);
  EXPECT_EQ(newSize.value().lVal, 13);

  // Events reach the subscription through the sink the service handed the provider.
  ComPtr<RecordingSink> subscription(RecordingSink::create());
  ASSERT_EQ(subscribe(m_ns.get(), subscription.get()), WBEM_S_NO_ERROR);
  ComPtr<IWbemClassObject> warm = gadget(u"warm", 9);
  EXPECT_EQ(runRequest([&](IWbemObjectSink* s) {
              return m_ns->PutInstanceAsync(warm.get(), 0, nullptr, s);
            }),
            WBEM_S_NO_ERROR);
  ASSERT_TRUE(subscription->waitForObjects(1, kWait));
  EXPECT_EQ(getText(subscription->objects()[0], u"Name"), u"warm");
  EXPECT_EQ(m_ns->CancelAsyncCall(subscription.get()), WBEM_S_NO_ERROR);
  EXPECT_EQ(subscription->waitForFinalStatus(kWait), WBEM_E_CALL_CANCELLED);

  EXPECT_EQ(processesOf(m_server), servers) << "one server served every request";
  EXPECT_EQ(m_service.activeProviderCount(), 1u);
}

TEST_F(ProviderProcessTest, EveryProviderMethodAnswersItsOwnStatusAcrossTheBoundary) {
  ComPtr<IWbemProviderInit> init;
  ASSERT_EQ(CoCreateInstance(veltwmi::test::CLSID_GadgetProvider, nullptr, CLSCTX_LOCAL_SERVER,
                             IID_IWbemProviderInit, reinterpret_cast<void**>(init.put())),
            S_OK);
  InitStatus initStatus;
  ComPtr<IWbemContext> context;
  createContext(context.put());
  std::u16string nameSpace = u"root\\test";
  ASSERT_EQ(init->Initialize(nullptr, 0, nameSpace.data(), nullptr, m_ns.get(), context.get(),
                             &initStatus),
            WBEM_S_NO_ERROR);
  EXPECT_EQ(initStatus.reported.load(), WBEM_S_INITIALIZED);
  ComPtr<IWbemServices> provider;
  ASSERT_EQ(init->QueryInterface(IID_IWbemServices, reinterpret_cast<void**>(provider.put())),
            S_OK);
  ComPtr<IWbemEventProvider> events;
  ASSERT_EQ(init->QueryInterface(IID_IWbemEventProvider, reinterpret_cast<void**>(events.put())),
            S_OK);

  // What the provider declines answers its own code, and no out pointer is filled.
  const velt::UniqueBstr path = velt::bstrFromUtf16(u"Gadget.Name=\"g1\""),
                         wql = velt::bstrFromUtf16(u"WQL"),
                         query = velt::bstrFromUtf16(u"select * from Gadget"),
                         grow = velt::bstrFromUtf16(u"Grow"),
                         className = velt::bstrFromUtf16(u"Gadget");
  ComPtr<RecordingSink> sink(RecordingSink::create());
  ComPtr<IWbemClassObject> instance = gadget(u"g9", 1);
  IWbemServices* working = m_ns.get();
  IWbemCallResult* result = reinterpret_cast<IWbemCallResult*>(&initStatus);
  IWbemObjectSink* handler = sink.get();
  IEnumWbemClassObject* enumerator = reinterpret_cast<IEnumWbemClassObject*>(&initStatus);
  IWbemClassObject* object = instance.get();
  const HRESULT declined = WBEM_E_NOT_SUPPORTED;
  EXPECT_EQ(provider->OpenNamespace(path.get(), 0, context.get(), &working, &result), declined);
  EXPECT_EQ(working, nullptr);
  EXPECT_EQ(result, nullptr);
  EXPECT_EQ(provider->CancelAsyncCall(sink.get()), declined);
  EXPECT_EQ(provider->QueryObjectSink(0, &handler), declined);
  EXPECT_EQ(handler, nullptr);
  EXPECT_EQ(provider->PutClass(instance.get(), 0, nullptr, nullptr), declined);
  EXPECT_EQ(provider->PutClassAsync(instance.get(), 0, nullptr, sink.get()), declined);
  EXPECT_EQ(provider->DeleteClass(className.get(), 0, nullptr, nullptr), declined);
  EXPECT_EQ(provider->DeleteClassAsync(className.get(), 0, nullptr, sink.get()), declined);
  EXPECT_EQ(provider->CreateClassEnum(className.get(), 0, nullptr, &enumerator), declined);
  EXPECT_EQ(enumerator, nullptr);
  EXPECT_EQ(provider->CreateClassEnumAsync(className.get(), 0, nullptr, sink.get()), declined);
  EXPECT_EQ(provider->PutInstance(instance.get(), 0, nullptr, nullptr), declined);
  EXPECT_EQ(provider->DeleteInstance(path.get(), 0, nullptr, nullptr), declined);
  EXPECT_EQ(provider->DeleteInstanceAsync(path.get(), 0, nullptr, sink.get()), declined);
  EXPECT_EQ(provider->ExecQuery(wql.get(), query.get(), 0, nullptr, &enumerator), declined);
  EXPECT_EQ(provider->ExecQueryAsync(wql.get(), query.get(), 0, nullptr, sink.get()), declined);
  EXPECT_EQ(provider->ExecNotificationQuery(wql.get(), query.get(), 0, nullptr, &enumerator),
            declined);
  EXPECT_EQ(provider->ExecNotificationQueryAsync(wql.get(), query.get(), 0, nullptr, sink.get()),
            declined);
  EXPECT_EQ(provider->ExecMethod(path.get(), grow.get(), 0, nullptr, nullptr, &object, nullptr),
            declined);
  EXPECT_EQ(sink->events().size(), 0u) << "a declined call never completes its sink";

  // A failure the provider returns at once crosses as it is.
  const velt::UniqueBstr broken = velt::bstrFromUtf16(u"Gadget.Name=\"Broken\"");
  EXPECT_EQ(provider->GetObjectAsync(broken.get(), 0, nullptr, sink.get()), WBEM_E_FAILED);

  // Events go to the sink handed to ProvideEvents, a capability into this process.
  ComPtr<RecordingSink> eventSink(RecordingSink::create());
  ASSERT_EQ(events->ProvideEvents(eventSink.get(), 0), WBEM_S_NO_ERROR);
  ComPtr<RecordingSink> written(RecordingSink::create());
  ASSERT_EQ(provider->PutInstanceAsync(instance.get(), 0, context.get(), written.get()),
            WBEM_S_NO_ERROR);
  EXPECT_EQ(written->waitForFinalStatus(kWait), WBEM_S_NO_ERROR);
  ASSERT_TRUE(eventSink->waitForObjects(1, kWait));
  EXPECT_EQ(getText(eventSink->objects()[0], u"Name"), u"g9");
  EXPECT_NE(eventSink->objects()[0], instance.get());
}

// A server that dies fails what it was doing with the status WMI gives a provider that failed,
// at once rather than when some wait runs out, and the next request starts a new server.
TEST_F(ProviderProcessTest, ServerKilledMidEnumerationFailsTheRequestAndTheNextStartsAnother) {
  setenv("VELT_GADGET_HOLD_ENUMERATIONS", "1", 1);  // the server stops after the first gadget
  ComPtr<RecordingSink> sink(RecordingSink::create());
  const velt::UniqueBstr className = velt::bstrFromUtf16(u"Gadget");
  auto request = std::async(std::launch::async, [&] {
    return m_ns->CreateInstanceEnumAsync(className.get(), 0, nullptr, sink.get());
  });
  ASSERT_TRUE(sink->waitForObjects(1, kWait));
  const pid_t first = theServer();
  ASSERT_GT(first, 0);
  ASSERT_EQ(kill(first, SIGKILL), 0);
  // The held enumeration would go on for 20 s: only the lost connection ends it sooner.
  EXPECT_EQ(sink->waitForFinalStatus(std::chrono::seconds(15)), WBEM_E_PROVIDER_FAILURE);
  EXPECT_EQ(request.get(), WBEM_S_NO_ERROR);
  EXPECT_EQ(sink->objects().size(), 1u);

  unsetenv("VELT_GADGET_HOLD_ENUMERATIONS");
  EXPECT_EQ(getG1(), WBEM_S_NO_ERROR);
  const pid_t second = theServer();
  EXPECT_GT(second, 0);
  EXPECT_NE(second, first);
}

TEST_F(ProviderProcessTest, ServerKilledDuringASubscriptionEndsItWithProviderFailure) {
  ComPtr<RecordingSink> subscription(RecordingSink::create());
  ASSERT_EQ(subscribe(m_ns.get(), subscription.get()), WBEM_S_NO_ERROR);
  ComPtr<IWbemClassObject> warm = gadget(u"warm", 9);
  auto put = [&] {
    return runRequest(
        [&](IWbemObjectSink* s) { return m_ns->PutInstanceAsync(warm.get(), 0, nullptr, s); });
  };
  ASSERT_EQ(put(), WBEM_S_NO_ERROR);
  ASSERT_TRUE(subscription->waitForObjects(1, kWait));
  const pid_t first = theServer();
  ASSERT_GT(first, 0);
  ASSERT_EQ(kill(first, SIGKILL), 0);
  EXPECT_EQ(subscription->waitForFinalStatus(kWait), WBEM_E_PROVIDER_FAILURE);

  // The next request reaches a new server, and a new subscription its events.
  ComPtr<RecordingSink> again(RecordingSink::create());
  ASSERT_EQ(subscribe(m_ns.get(), again.get()), WBEM_S_NO_ERROR);
  EXPECT_EQ(put(), WBEM_S_NO_ERROR);
  ASSERT_TRUE(again->waitForObjects(1, kWait));
  EXPECT_NE(theServer(), first);
  EXPECT_EQ(m_ns->CancelAsyncCall(again.get()), WBEM_S_NO_ERROR);
}

// Clients started at once start one server, which serves them all at the same time, and lets
// go of everything they held: once they are done, it ends by its lifetime rule.
TEST_F(ProviderProcessTest, EightClientsWithMixedRequestsShareOneServerAndLeaveNothingBehind) {
  // An object of this process keeps the server between clients, which come and go at their
  // own pace: a server whose last client left ends, and the next client starts another.
  ComPtr<IWbemProviderInit> keeper;
  ASSERT_EQ(CoCreateInstance(veltwmi::test::CLSID_GadgetProvider, nullptr, CLSCTX_LOCAL_SERVER,
                             IID_IWbemProviderInit, reinterpret_cast<void**>(keeper.put())),
            S_OK);
  std::vector<std::unique_ptr<ClientProcess>> clients;
  for (int i = 0; i < 8; ++i) {
    clients.push_back(std::make_unique<ClientProcess>(std::vector<std::string>{"mixed", "4"}));
  }
  std::set<pid_t> servers;
  std::vector<int> codes(clients.size(), -1);
  bool done = within(std::chrono::seconds(180), [&] {
    for (pid_t pid : processesOf(m_server)) servers.insert(pid);
    bool all = true;
    for (std::size_t i = 0; i < clients.size(); ++i) {
      std::optional<int> code = clients[i]->exitCode(std::chrono::seconds(0));
      if (code) codes[i] = *code;
      all = all && code.has_value();
    }
    return all;
  });
  ASSERT_TRUE(done) << "the clients did not finish";
  EXPECT_EQ(codes, std::vector<int>(clients.size(), 0)) << "every outcome right";
  EXPECT_EQ(servers.size(), 1u) << "one server for every client";
  EXPECT_FALSE(processesOf(m_server).empty());
  keeper = {};
  EXPECT_TRUE(within(kWait, [&] { return processesOf(m_server).empty(); }))
      << "what the clients held in the server is gone";
}

// A client that dies with a subscription open, or in the middle of a long enumeration, leaves
// nothing in the server: the provider it held is released (the stream to its sink fails and the
// provider's calls on the sink answer that) and the server, idle, ends. The enumeration once
// with the client's sink holding the stream up (the provider waits for room), once running at
// full speed.
TEST_F(ProviderProcessTest, ClientKilledDuringAWatchOrALongEnumerationLeavesNothingInTheServer) {
  const std::pair<std::vector<std::string>, const char*> clients[] = {
      {{"watch"}, "watching"},
      {{"enumerate", "100000000", "hold"}, "enumerating"},
      {{"enumerate", "100000000", "flow"}, "enumerating"}};
  for (const auto& [arguments, ready] : clients) {
    SCOPED_TRACE(arguments.back());
    ClientProcess client(arguments);
    ASSERT_EQ(client.nextLine(), ready);
    ASSERT_GT(theServer(), 0);
    client.killHard();
    EXPECT_TRUE(within(kWait, [&] { return processesOf(m_server).empty(); }))
        << "the server still runs after its only client died";
  }
}

// A client that dies while its Next (or Skip) waits without end in the server: the wait ends
// with the connection, so the enumerator and the producer it holds are let go and the server,
// idle, ends with nothing left behind.
TEST_F(ProviderProcessTest, ClientKilledDuringAnEndlessNextOrSkipLetsTheServerEnd) {
  for (const char* call : {"next", "skip"}) {
    SCOPED_TRACE(call);
    ClientProcess client({call});
    ASSERT_EQ(client.nextLine(), "waiting");
    ASSERT_GT(theServer(), 0);
    // The client says so just before it calls; this lets its call reach the server (were it
    // still on its way, the test would pass without showing anything, never fail).
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    client.killHard();
    EXPECT_TRUE(within(kWait, [&] { return processesOf(m_server).empty(); }))
        << "the server still runs after its only client died waiting";
    std::ifstream log(m_server + ".console.log");
    const std::string logged{std::istreambuf_iterator<char>(log), {}};
    EXPECT_NE(logged.find("gadget server: objects left: 0\n"), std::string::npos) << logged;
    EXPECT_NE(logged.find("gadget server: proxies and stubs left: 0 and 0\n"), std::string::npos)
        << logged;
    std::filesystem::remove(m_server + ".console.log");
  }
}

// What the provider made on a sink before it let go of it was made before what it does next
// on another interface: the status object describing a failed initialisation reaches the
// service before the init sink's failure, so the request's final status carries it.
TEST_F(ProviderProcessTest, AStatusObjectStreamedBeforeAFailedInitialisationArrivesWithIt) {
  class StatusObjectSink final
      : public velt::wmi::detail::ComObject<IWbemObjectSink, IID_IWbemObjectSink> {
   public:
    STDMETHODIMP Indicate(LONG, IWbemClassObject**) override { return WBEM_S_NO_ERROR; }
    STDMETHODIMP SetStatus(LONG flags, HRESULT status, BSTR, IWbemClassObject* object) override {
      if (flags != WBEM_STATUS_COMPLETE) return WBEM_S_NO_ERROR;
      std::lock_guard lock(mutex);
      final = status;
      described = ComPtr<IWbemClassObject>::share(object);
      done.notify_all();
      return WBEM_S_NO_ERROR;
    }
    std::mutex mutex;
    std::condition_variable done;
    std::optional<HRESULT> final;
    ComPtr<IWbemClassObject> described;
  };
  ComPtr<IWbemContext> context = veltwmi::test::gadgetContext(u"GadgetInitFails", 1);
  // Keeps one server for every round: each failed provider object is let go at once.
  ComPtr<IWbemProviderInit> keeper;
  ASSERT_EQ(CoCreateInstance(veltwmi::test::CLSID_GadgetProvider, nullptr, CLSCTX_LOCAL_SERVER,
                             IID_IWbemProviderInit, reinterpret_cast<void**>(keeper.put())),
            S_OK);
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    ComPtr<StatusObjectSink> sink(new StatusObjectSink);
    const velt::UniqueBstr path = velt::bstrFromUtf16(u"Gadget.Name=\"g1\"");
    ASSERT_EQ(m_ns->GetObjectAsync(path.get(), 0, context.get(), sink.get()), WBEM_S_NO_ERROR);
    std::unique_lock lock(sink->mutex);
    ASSERT_TRUE(sink->done.wait_for(lock, kWait, [&] { return sink->final.has_value(); }));
    EXPECT_EQ(*sink->final, WBEM_E_PROVIDER_LOAD_FAILURE);
    ASSERT_TRUE(sink->described) << "the provider's description of its failure was lost";
    velt::OwnedVariant name;
    sink->described->Get(u"Name", 0, name.get(), nullptr, nullptr);
    EXPECT_EQ(name.value().vt, VT_BSTR);
  }
}

// The same, told apart from luck: the object sink is slow, and the provider's failure must
// still wait for it.
TEST_F(ProviderProcessTest, AProviderLettingGoOfASinkWaitsUntilWhatItStreamedWasMade) {
  struct Outcome {
    std::atomic<bool> described{false};
    std::atomic<int> failedAfterDescription{-1};
  };
  class SlowStatusSink final
      : public velt::wmi::detail::ComObject<IWbemObjectSink, IID_IWbemObjectSink> {
   public:
    explicit SlowStatusSink(Outcome& outcome) : m_outcome(outcome) {}
    STDMETHODIMP Indicate(LONG, IWbemClassObject**) override { return WBEM_S_NO_ERROR; }
    STDMETHODIMP SetStatus(LONG, HRESULT, BSTR, IWbemClassObject* object) override {
      // Widens the window in which the init sink's answer could overtake this one.
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      m_outcome.described = object != nullptr;
      return WBEM_S_NO_ERROR;
    }

   private:
    Outcome& m_outcome;
  };
  class DescribingInitSink final
      : public velt::wmi::detail::ComObject<IWbemProviderInitSink, IID_IWbemProviderInitSink> {
   public:
    explicit DescribingInitSink(Outcome& outcome) : m_outcome(outcome) {}
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
      if (out != nullptr && iid == IID_IWbemObjectSink) {
        *out = static_cast<IWbemObjectSink*>(new SlowStatusSink(m_outcome));
        return S_OK;
      }
      return ComObject::QueryInterface(iid, out);
    }
    STDMETHODIMP SetStatus(LONG status, LONG) override {
      if (FAILED(status)) m_outcome.failedAfterDescription = m_outcome.described ? 1 : 0;
      return WBEM_S_NO_ERROR;
    }

   private:
    Outcome& m_outcome;
  };
  ComPtr<IWbemContext> context = veltwmi::test::gadgetContext(u"GadgetInitFails", 1);
  Outcome outcome;
  {
    ComPtr<IWbemProviderInit> init;
    ASSERT_EQ(CoCreateInstance(veltwmi::test::CLSID_GadgetProvider, nullptr, CLSCTX_LOCAL_SERVER,
                               IID_IWbemProviderInit, reinterpret_cast<void**>(init.put())),
              S_OK);
    ComPtr<DescribingInitSink> sink(new DescribingInitSink(outcome));
    ASSERT_EQ(init->Initialize(nullptr, 0, const_cast<LPWSTR>(u"root\\test"), nullptr, m_ns.get(),
                               context.get(), sink.get()),
              WBEM_S_NO_ERROR);
  }
  EXPECT_EQ(outcome.failedAfterDescription.load(), 1)
      << "the init sink heard of the failure before the description was made";
}

// A provider's results stream back while it goes on; still, the request returns only once what
// the provider made on the sink before returning was made on the client's sink, so the final
// status the provider gave is the one the client sees, once, after every object.
TEST_F(ProviderProcessTest, ResultsStreamedBeforeTheProviderReturnedArriveBeforeTheCallEnds) {
  // Slow, so objects still wait on the client's side when the provider returns.
  class SlowSink final : public velt::wmi::detail::ComObject<IWbemObjectSink, IID_IWbemObjectSink> {
   public:
    explicit SlowSink(IWbemObjectSink* next) : m_next(ComPtr<IWbemObjectSink>::share(next)) {}
    STDMETHODIMP Indicate(LONG count, IWbemClassObject** objects) override {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      return m_next->Indicate(count, objects);
    }
    STDMETHODIMP SetStatus(LONG flags, HRESULT status, BSTR text,
                           IWbemClassObject* object) override {
      return m_next->SetStatus(flags, status, text, object);
    }

   private:
    ComPtr<IWbemObjectSink> m_next;
  };
  ComPtr<RecordingSink> sink(RecordingSink::create());
  ComPtr<SlowSink> slow(new SlowSink(sink.get()));
  const velt::UniqueBstr path = velt::bstrFromUtf16(u"Gadget.Name=\"Contrary\"");
  ASSERT_EQ(m_ns->GetObjectAsync(path.get(), 0, nullptr, slow.get()), WBEM_S_NO_ERROR);
  EXPECT_EQ(sink->waitForFinalStatus(kWait), WBEM_E_NOT_FOUND);
  // Consecutive objects may arrive together, in one Indicate.
  std::vector<SinkEvent> events = sink->events();
  EXPECT_EQ(sink->objects().size(), 2000u);
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back().kind, SinkEvent::kSetStatus);
  EXPECT_EQ(std::count_if(events.begin(), events.end(),
                          [](const SinkEvent& e) { return e.kind == SinkEvent::kSetStatus; }),
            1);
}

// A sink that answers a failure stops the provider: its next call answers that failure, so an
// enumeration ends long before its end, and the final status the provider then gives still
// reaches the sink, as when every call was answered before the provider went on.
TEST_F(ProviderProcessTest, ASinkFailureReachesTheProviderAndItsFinalStatusStillArrives) {
  class RefusingSink final
      : public velt::wmi::detail::ComObject<IWbemObjectSink, IID_IWbemObjectSink> {
   public:
    STDMETHODIMP Indicate(LONG count, IWbemClassObject**) override {
      arrived += count;
      return WBEM_E_CALL_CANCELLED;
    }
    STDMETHODIMP SetStatus(LONG flags, HRESULT status, BSTR, IWbemClassObject*) override {
      if (flags != WBEM_STATUS_COMPLETE) return WBEM_S_NO_ERROR;
      std::lock_guard lock(mutex);
      finals.push_back(status);
      done.notify_all();
      return WBEM_S_NO_ERROR;
    }
    std::atomic<long> arrived{0};
    std::mutex mutex;
    std::condition_variable done;
    std::vector<HRESULT> finals;
  };
  constexpr LONG kCount = 1000000;
  ComPtr<IWbemContext> context = veltwmi::test::gadgetContext(u"GadgetCount", kCount);
  ComPtr<RefusingSink> sink(new RefusingSink);
  const velt::UniqueBstr className = velt::bstrFromUtf16(u"Gadget");
  ASSERT_EQ(m_ns->CreateInstanceEnumAsync(className.get(), 0, context.get(), sink.get()),
            WBEM_S_NO_ERROR);
  std::unique_lock lock(sink->mutex);
  ASSERT_TRUE(sink->done.wait_for(lock, kWait, [&] { return !sink->finals.empty(); }));
  EXPECT_EQ(sink->finals, std::vector<HRESULT>{WBEM_E_CALL_CANCELLED});
  EXPECT_LT(sink->arrived.load(), kCount / 10) << "the provider went on after the failure";
}

// COM keeps one thread's calls in order: an event the provider fires while it serves a request
// reaches the subscriber before that request returns, though it went on another sink's stream.
TEST_F(ProviderProcessTest, EventsFiredDuringACallArriveBeforeTheCallReturns) {
  class SlowEventSink final
      : public velt::wmi::detail::ComObject<IWbemObjectSink, IID_IWbemObjectSink> {
   public:
    STDMETHODIMP Indicate(LONG count, IWbemClassObject**) override {
      // Widens the window in which the request could return first.
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      arrived += count;
      return WBEM_S_NO_ERROR;
    }
    STDMETHODIMP SetStatus(LONG, HRESULT, BSTR, IWbemClassObject*) override {
      return WBEM_S_NO_ERROR;
    }
    std::atomic<long> arrived{0};
  };
  ComPtr<SlowEventSink> events(new SlowEventSink);
  ASSERT_EQ(subscribe(m_ns.get(), events.get()), WBEM_S_NO_ERROR);
  ComPtr<IWbemClassObject> written = gadget(u"ordered", 3);
  ComPtr<RecordingSink> sink(RecordingSink::create());
  ASSERT_EQ(m_ns->PutInstanceAsync(written.get(), 0, nullptr, sink.get()), WBEM_S_NO_ERROR);
  EXPECT_EQ(events->arrived.load(), 1) << "the request returned before its event arrived";
  EXPECT_EQ(sink->waitForFinalStatus(kWait), WBEM_S_NO_ERROR);
  EXPECT_EQ(m_ns->CancelAsyncCall(events.get()), WBEM_S_NO_ERROR);
}

}  // namespace
}  // namespace velt::wmi::test
