// A provider in a process of its own, reached as WMI reaches one: COM starts the registered
// server, the service initialises it with a namespace that is a capability back into the
// service, and requests, results, statuses and events cross both ways.
#include <gtest/gtest.h>

#include <signal.h>

#include <fstream>
#include <future>
#include <iterator>
#include <memory>
#include <set>
#include <thread>

#include "gadget_process_fixture.h"
#include "status_sink.h"
#include "wmi_model/com_object.h"

namespace velt::wmi::test {
namespace {

using velt::ComPtr;

using velt::test::processesOf;
using velt::test::within;

// A gadget client program in a process of its own; its standard input holds it.
std::unique_ptr<velt::test::ChildProcess> client(std::vector<std::string> arguments) {
  return std::make_unique<velt::test::ChildProcess>(GADGET_CLIENT, std::move(arguments));
}

class ProviderProcessTest : public GadgetProcessFixture {
 protected:
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
};

TEST_F(ProviderProcessTest, EveryProviderMethodAnswersItsOwnStatusAcrossTheBoundary) {
  ComPtr<IWbemContext> context;
  createContext(context.put());
  ComPtr<IWbemServices> provider = initializedProvider(context.get());
  ASSERT_TRUE(provider);
  ComPtr<IWbemEventProvider> events;
  ASSERT_EQ(
      provider->QueryInterface(IID_IWbemEventProvider, reinterpret_cast<void**>(events.put())),
      S_OK);

  // What the provider declines answers its own code, and no out pointer is filled.
  const velt::UniqueBstr path = velt::bstrFromUtf16(u"Gadget.Name=\"g1\""),
                         wql = velt::bstrFromUtf16(u"WQL"),
                         query = velt::bstrFromUtf16(u"select * from Gadget"),
                         grow = velt::bstrFromUtf16(u"Grow"),
                         className = velt::bstrFromUtf16(u"Gadget");
  ComPtr<RecordingSink> sink(RecordingSink::create());
  ComPtr<IWbemClassObject> instance = veltwmi::test::newGadget(m_ns.get(), u"g9", 1);
  IWbemServices* working = m_ns.get();
  IWbemCallResult* result = reinterpret_cast<IWbemCallResult*>(&m_initStatus);
  IWbemObjectSink* handler = sink.get();
  IEnumWbemClassObject* enumerator = reinterpret_cast<IEnumWbemClassObject*>(&m_initStatus);
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
  ComPtr<IWbemClassObject> warm = veltwmi::test::newGadget(m_ns.get(), u"warm", 9);
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

// Clients started at once start one server, which serves them all at the same time (every kind
// of request, results, statuses and events crossing both ways), and lets go of everything they
// held: once they are done, it ends by its lifetime rule.
TEST_F(ProviderProcessTest, EightClientsWithMixedRequestsShareOneServerAndLeaveNothingBehind) {
  // An object of this process keeps the server between clients, which come and go at their
  // own pace: a server whose last client left ends, and the next client starts another.
  ComPtr<IWbemProviderInit> keeper = newProvider();
  ASSERT_TRUE(keeper);
  std::vector<std::unique_ptr<velt::test::ChildProcess>> clients;
  for (int i = 0; i < 8; ++i) clients.push_back(client({"mixed", "4"}));
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
    auto killed = client(arguments);
    ASSERT_EQ(killed->nextLine(), ready);
    ASSERT_GT(theServer(), 0);
    killed->killHard();
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
    auto killed = client({call});
    ASSERT_EQ(killed->nextLine(), "waiting");
    ASSERT_GT(theServer(), 0);
    // The client says so just before it calls; this lets its call reach the server (were it
    // still on its way, the test would pass without showing anything, never fail).
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    killed->killHard();
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
// on another interface: the status object describing a failed initialisation is made before the
// init sink hears of the failure, however slow the object sink.
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
    ComPtr<IWbemProviderInit> init = newProvider();
    ASSERT_TRUE(init);
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
  ComPtr<StatusSink> sink(new StatusSink(WBEM_S_NO_ERROR, std::chrono::milliseconds(2)));
  const velt::UniqueBstr path = velt::bstrFromUtf16(u"Gadget.Name=\"Contrary\"");
  ASSERT_EQ(m_ns->GetObjectAsync(path.get(), 0, nullptr, sink.get()), WBEM_S_NO_ERROR);
  EXPECT_EQ(sink->wait().first, WBEM_E_NOT_FOUND);
  EXPECT_EQ(sink->arrivedAtFinal.load(), 2000);
  EXPECT_EQ(sink->arrived.load(), 2000);
  EXPECT_EQ(sink->finals().size(), 1u);
}

// A provider that streams a burst and then goes quiet, with no final status yet and nobody
// waiting on its sink: what it sent arrives while it is quiet, not with its status.
TEST_F(ProviderProcessTest, ABurstFollowedBySilenceArrivesWithoutWaitingForTheStatus) {
  ComPtr<StatusSink> sink(new StatusSink);
  ComPtr<IWbemContext> context =
      veltwmi::test::gadgetContext({{u"GadgetCount", 300}, {u"GadgetQuietMs", 4000}});
  const velt::UniqueBstr name = velt::bstrFromUtf16(u"Gadget");
  auto call = std::async(std::launch::async, [&] {
    return m_ns->CreateInstanceEnumAsync(name.get(), 0, context.get(), sink.get());
  });
  EXPECT_TRUE(within(std::chrono::seconds(2), [&] { return sink->arrived.load() == 300; }))
      << sink->arrived.load() << " of 300 arrived while the provider was quiet";
  EXPECT_EQ(sink->finals().size(), 0u);
  EXPECT_EQ(call.get(), WBEM_S_NO_ERROR);
  EXPECT_EQ(sink->wait().first, WBEM_S_NO_ERROR);
}

// A sink that answers a failure stops the provider: its next call answers that failure, so an
// enumeration ends long before its end, and the final status the provider then gives still
// reaches the sink, as when every call was answered before the provider went on.
TEST_F(ProviderProcessTest, ASinkFailureReachesTheProviderAndItsFinalStatusStillArrives) {
  constexpr LONG kCount = 1000000;
  ComPtr<IWbemContext> context = veltwmi::test::gadgetContext(u"GadgetCount", kCount);
  ComPtr<StatusSink> sink(new StatusSink(WBEM_E_CALL_CANCELLED));
  const velt::UniqueBstr className = velt::bstrFromUtf16(u"Gadget");
  ASSERT_EQ(m_ns->CreateInstanceEnumAsync(className.get(), 0, context.get(), sink.get()),
            WBEM_S_NO_ERROR);
  EXPECT_EQ(sink->wait().first, WBEM_E_CALL_CANCELLED);
  EXPECT_EQ(sink->finals(), std::vector<HRESULT>{WBEM_E_CALL_CANCELLED});
  EXPECT_LT(sink->arrived.load(), kCount / 10) << "the provider went on after the failure";
}

// COM keeps one thread's calls in order: an event the provider fires while it serves a request
// reaches the subscriber before that request returns, though it went on another sink's stream.
TEST_F(ProviderProcessTest, EventsFiredDuringACallArriveBeforeTheCallReturns) {
  // Slow, which widens the window in which the request could return first.
  ComPtr<StatusSink> events(new StatusSink(WBEM_S_NO_ERROR, std::chrono::milliseconds(200)));
  ASSERT_EQ(subscribe(m_ns.get(), events.get()), WBEM_S_NO_ERROR);
  ComPtr<IWbemClassObject> written = veltwmi::test::newGadget(m_ns.get(), u"ordered", 3);
  ComPtr<RecordingSink> sink(RecordingSink::create());
  ASSERT_EQ(m_ns->PutInstanceAsync(written.get(), 0, nullptr, sink.get()), WBEM_S_NO_ERROR);
  EXPECT_EQ(events->arrived.load(), 1) << "the request returned before its event arrived";
  EXPECT_EQ(sink->waitForFinalStatus(kWait), WBEM_S_NO_ERROR);
  EXPECT_EQ(m_ns->CancelAsyncCall(events.get()), WBEM_S_NO_ERROR);
}

}  // namespace
}  // namespace velt::wmi::test
