// The provider with the real Java VM, activated through COM and working on the WMI stand-in's
// namespace, with a scripted Glue. Each test runs in a process of its own.
#include <gmock/gmock.h>

#include <cstdint>
#include <thread>

#include "counting_namespace.h"
#include "provider/proxy_provider.h"
#include "provider_fixture.h"
#include "scripted_class_object.h"
#include "wmi_model/low_arena.h"
#include "wmi_model/recording_sink.h"
#include "wmi_test_support.h"

namespace velt::provider::test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using velt::test::containsInOrder;
using wmi::RecordingSink;
using wmi::SinkEvent;
using wmi::test::getText;

std::string kinds(const RecordingSink* sink) {
  std::string text;
  for (const SinkEvent& event : sink->events()) {
    text += event.kind == SinkEvent::kIndicate ? "I" : (event.status == 0 ? "S" : "F");
  }
  return text;
}

struct FailureRow {
  const char* control;
  const char* operation;  // get, put, enum, exec, events
  HRESULT status;
  const char* trace;
  const char* sinkTraffic;
};

HRESULT runOperation(IUnknown* provider, IWbemServices* ns, const std::string& operation,
                     RecordingSink* sink) {
  ComPtr<IWbemServices> services = servicesOf(provider);
  velt::UniqueBstr path = velt::bstrFromUtf16(u"Gadget.Name=\"a\"");
  HRESULT result = E_FAIL;
  if (operation == "get") result = services->GetObjectAsync(path.get(), 0, nullptr, sink);
  if (operation == "badpath")
    result =
        services->GetObjectAsync(velt::bstrFromUtf16(u"Bad Class.Name=1").get(), 0, nullptr, sink);
  if (operation == "noclass")
    result =
        services->GetObjectAsync(velt::bstrFromUtf16(u"Nothing.Name=1").get(), 0, nullptr, sink);
  if (operation == "put") {
    ComPtr<IWbemClassObject> gadget = newGadget(ns, u"a");
    result = services->PutInstanceAsync(gadget.get(), 0, nullptr, sink);
  }
  if (operation == "enum")
    result =
        services->CreateInstanceEnumAsync(velt::bstrFromUtf16(u"Gadget").get(), 0, nullptr, sink);
  if (operation == "exec" || operation == "nomethod") {
    velt::UniqueBstr method = velt::bstrFromUtf16(operation == "exec" ? u"Resize" : u"Missing");
    result = services->ExecMethodAsync(path.get(), method.get(), 0, nullptr, nullptr, sink);
  }
  if (operation == "events") {
    ComPtr<IWbemEventProvider> events = eventsOf(provider);
    result = events->ProvideEvents(sink, 0);
  }
  return result;
}

class ProviderJvmTest : public ProviderFixture {
 protected:
  // Runs each row's operation on the provider with its Glue control, and checks its status,
  // its sink traffic and the trace it leaves.
  void expectRows(IUnknown* provider, const std::vector<FailureRow>& rows);
};

TEST_F(ProviderJvmTest, FirstAndLaterInitializeAndTheVmLifecycle) {
  install();
  ComPtr<IUnknown> first = activate();
  ASSERT_EQ(initialize(first.get()), WBEM_S_NO_ERROR);
  auto firstRecords = traces();
  EXPECT_TRUE(containsInOrder(
      firstRecords,
      {"CProxyProvider::Initialize()", "JvmServices::startJvm", "Java Virtual Machine started...",
       "Glue class loaded...", "Glue object created...", "Leaving initialize"}));
  EXPECT_THAT(firstRecords, Contains(HasSubstr("JvmServices object has been allocated")));
  // Requests may be using the namespace and Glue object it made: a repeated Initialize on the
  // object is refused and replaces neither.
  EXPECT_EQ(initialize(first.get(), u"root\\again"), WBEM_E_FAILED);

  markTraces();
  ComPtr<IUnknown> second = activate();
  ASSERT_EQ(initialize(second.get(), u"root\\t\u00ebst\u2713"), WBEM_S_NO_ERROR);
  auto secondRecords = tracesSinceMark();
  EXPECT_TRUE(containsInOrder(secondRecords, {"CProxyProvider::Initialize()", "sm_pJVM was not 0",
                                              "Glue object created...", "Leaving initialize"}));
  EXPECT_THAT(secondRecords, ::testing::Not(Contains(::testing::AnyOf(
                                 "Java Virtual Machine started...", "Glue class loaded..."))));
  std::string nsValue = std::to_string(javaLong(ns.get()));
  EXPECT_THAT(glueCalls(), ElementsAre("<init> " + nsValue + " root\\test",
                                       "<init> " + nsValue + " root\\t\xc3\xabst\xe2\x9c\x93"));

  // The first to go finalises its Glue object only; the last also shuts the VM down.
  markTraces();
  second.reset();
  EXPECT_TRUE(containsInOrder(tracesSinceMark(),
                              {"CProxyProvider::~CProxyProvider()", "Calling finalize method"}));
  EXPECT_THAT(tracesSinceMark(), ::testing::Not(Contains("Shutting down the JVM")));
  first.reset();
  EXPECT_THAT(tracesSinceMark(), Contains("Shutting down the JVM"));
  EXPECT_THAT(debugText, HasSubstr("CanShutdownJVM() = true\n"));
  EXPECT_EQ(CProxyProvider::sm_pJVM, nullptr);
  EXPECT_EQ(CProxyProvider::sm_glueClass, nullptr);

  // The next activation starts the server, and so its log, afresh.
  expectNoJniWarnings();
  // A later provider takes up the VM that still exists.
  ComPtr<IUnknown> third = activate();
  EXPECT_EQ(initialize(third.get()), WBEM_S_NO_ERROR);
  EXPECT_EQ(glueCalls().size(), 3u);
}

TEST_F(ProviderJvmTest, ServedOperationsDeliverExactlyWhatJavaMade) {
  install();
  ComPtr<IUnknown> provider = activate();
  ASSERT_EQ(initialize(provider.get()), WBEM_S_NO_ERROR);
  ComPtr<IWbemServices> services = servicesOf(provider.get());

  // get: the path reaches Java as WMI wrote it, non-ASCII and escapes included.
  velt::UniqueBstr path = velt::bstrFromUtf16(u"Gadget.Name=\"Zo\u00eb \\\"q\\\"\"");
  ComPtr<RecordingSink> got(RecordingSink::create());
  EXPECT_EQ(services->GetObjectAsync(path.get(), 0, nullptr, got.get()), WBEM_S_NO_ERROR);
  EXPECT_EQ(kinds(got.get()), "IS");
  ASSERT_EQ(got->objects().size(), 1u);
  EXPECT_EQ(getText(got->objects()[0], u"Name"), u"found");
  EXPECT_THAT(glueCalls(), Contains("getInstance Gadget.Name=\"Zo\xc3\xab \\\"q\\\"\""));

  // put: the very instance goes to Java and back to the sink.
  ComPtr<IWbemClassObject> gadget = newGadget(ns.get(), u"new");
  ComPtr<RecordingSink> put(RecordingSink::create());
  EXPECT_EQ(services->PutInstanceAsync(gadget.get(), 0, nullptr, put.get()), WBEM_S_NO_ERROR);
  EXPECT_EQ(kinds(put.get()), "IS");
  EXPECT_EQ(put->objects()[0], gadget.get());
  EXPECT_THAT(glueCalls(),
              Contains("setInstance Gadget " + std::to_string(javaLong(gadget.get()))));

  // enumerate: 0, 3 and many, in vector order, each object indicated on its own.
  for (int count : {0, 3, 200}) {
    setControl("enum=" + std::to_string(count));
    ComPtr<RecordingSink> all(RecordingSink::create());
    EXPECT_EQ(runOperation(provider.get(), ns.get(), "enum", all.get()), WBEM_S_NO_ERROR);
    EXPECT_EQ(kinds(all.get()), std::string(static_cast<size_t>(count), 'I') + "S");
    for (int i = 0; i < count && i < 5; ++i) {
      EXPECT_EQ(getText(all->objects()[static_cast<size_t>(i)], u"Name"),
                u"e" + std::u16string(1, static_cast<char16_t>(u'0' + i)));
    }
  }
  EXPECT_THAT(glueCalls(), Contains("enumInstances Gadget false Gadget true"));

  // execute: the out-parameters Java filled; a method without out-parameters completes only.
  ComPtr<RecordingSink> ran(RecordingSink::create());
  EXPECT_EQ(runOperation(provider.get(), ns.get(), "exec", ran.get()), WBEM_S_NO_ERROR);
  EXPECT_EQ(kinds(ran.get()), "IS");
  EXPECT_EQ(wmi::test::getInt(ran->objects()[0], u"OldCapacity"), 42);
  velt::UniqueBstr reset = velt::bstrFromUtf16(u"Reset");
  ComPtr<RecordingSink> resetSink(RecordingSink::create());
  EXPECT_EQ(
      services->ExecMethodAsync(path.get(), reset.get(), 0, nullptr, nullptr, resetSink.get()),
      WBEM_S_NO_ERROR);
  EXPECT_EQ(kinds(resetSink.get()), "S");
  EXPECT_THAT(glueCalls(), Contains("invokeMethod Gadget.Name=\"Zo\xc3\xab \\\"q\\\"\" Reset 0 0"));

  // events: each ProvideEvents hands Java the then current sink; a fired event reaches it.
  setControl("fire=GadgetEvent");
  ComPtr<IWbemEventProvider> events = eventsOf(provider.get());
  ComPtr<RecordingSink> firstSink(RecordingSink::create());
  ComPtr<RecordingSink> secondSink(RecordingSink::create());
  EXPECT_EQ(events->ProvideEvents(firstSink.get(), 0), WBEM_S_NO_ERROR);
  EXPECT_EQ(events->ProvideEvents(secondSink.get(), 0), WBEM_S_NO_ERROR);
  EXPECT_EQ(kinds(firstSink.get()), "I");
  EXPECT_EQ(kinds(secondSink.get()), "I");
  EXPECT_EQ(getText(secondSink->objects()[0], u"Message"), u"fired");
  EXPECT_THAT(glueCalls(), Contains("setEventSink " + std::to_string(javaLong(secondSink.get()))));
  expectNoJniWarnings();
}

void ProviderJvmTest::expectRows(IUnknown* provider, const std::vector<FailureRow>& rows) {
  for (const FailureRow& row : rows) {
    SCOPED_TRACE(std::string(row.operation) + " with " + row.control);
    setControl(row.control);
    ComPtr<RecordingSink> sink(RecordingSink::create());
    EXPECT_EQ(runOperation(provider, ns.get(), row.operation, sink.get()), row.status);
    if (std::string(row.operation) != "events") {
      EXPECT_EQ(kinds(sink.get()), row.sinkTraffic);
    }
    if (*row.trace != '\0') {
      EXPECT_THAT(traces(), Contains(HasSubstr(row.trace)));
    }
  }
}

TEST_F(ProviderJvmTest, FailuresOfTheScriptedGlue) {
  install();
  ComPtr<IUnknown> provider = activate();
  ASSERT_EQ(initialize(provider.get()), WBEM_S_NO_ERROR);
  std::vector<FailureRow> rows = {
      {"", "badpath", WBEM_E_INVALID_OBJECT_PATH, "", ""},
      {"", "noclass", WBEM_E_FAILED, "", ""},
      {"", "nomethod", WBEM_E_INVALID_METHOD, "", ""},
      {"throw=getInstance", "get", WBEM_E_FAILED, "A JNI Exception occurred: thrown by getInstance",
       ""},
      {"get=zero", "get", WBEM_E_NOT_FOUND, "Glue::getInstance() returned no instance.", ""},
      {"throw=setInstance", "put", WBEM_E_FAILED, "A JNI Exception occurred: thrown by setInstance",
       ""},
      {"throw=enumInstances", "enum", WBEM_E_FAILED,
       "A JNI Exception occurred: thrown by enumInstances", ""},
      {"enum=null", "enum", WBEM_E_FAILED, "Glue::enumInstances() returned no vector.", ""},
      {"enum=odd", "enum", WBEM_E_FAILED,
       "Glue::enumInstances() element 3 is not an instance; skipped.", "II"},
      // The elements before the failing read are delivered, the later ones released (the
      // fixture counts the stand-in's objects); no final status follows.
      {"enum=throwing", "enum", WBEM_E_FAILED, "A JNI Exception occurred: thrown by elementAt 2",
       "II"},
      {"throw=invokeMethod", "exec", WBEM_E_FAILED,
       "A JNI Exception occurred: thrown by invokeMethod", ""},
      {"throw=setEventSink", "events", WBEM_E_FAILED,
       "A JNI Exception occurred: thrown by setEventSink", ""},
  };
  expectRows(provider.get(), rows);
  EXPECT_THAT(glueCalls(), Contains("elementAt 3"));
  // A Glue constructor that throws fails the initialisation only. (The first provider stays,
  // so the server, and with it the log, stays too.)
  setControl("throw=<init>");
  ComPtr<IUnknown> second = activate();
  EXPECT_EQ(initialize(second.get()), WBEM_E_FAILED);
  EXPECT_TRUE(containsInOrder(traces(), {"Construction of Glue object failed.",
                                         "A JNI Exception occurred: thrown by <init>"}));
  expectNoJniWarnings();
}

TEST_F(ProviderJvmTest, FailuresOfAGlueLackingItsMembers) {
  install(GlueJar::kBare);
  ComPtr<IUnknown> provider = activate();
  ASSERT_EQ(initialize(provider.get()), WBEM_S_NO_ERROR);
  std::vector<FailureRow> rows = {
      // A failed look-up always leaves NoSuchMethodError pending, so its message is what shows.
      {"", "get", WBEM_E_FAILED, "getInstance", ""},
      {"", "put", WBEM_E_FAILED, "setInstance", ""},
      {"", "exec", WBEM_E_FAILED, "invokeMethod", ""},
      {"", "enum", WBEM_E_FAILED, "enumInstances", ""},
      {"", "events", WBEM_E_FAILED, "CheckForEvents(II)V not found", ""},
  };
  expectRows(provider.get(), rows);
  expectNoJniWarnings();
}

TEST_F(ProviderJvmTest, AGlueWithoutItsConstructorFailsTheInitialize) {
  install(GlueJar::kUnbuildable);
  ComPtr<IUnknown> provider = activate();
  EXPECT_EQ(initialize(provider.get()), WBEM_E_FAILED);
  auto records = traces();
  EXPECT_TRUE(containsInOrder(
      records, {"Glue class loaded...", "Finding the constructor for Glue class failed.",
                "A JNI Exception occurred: <init>"}));
  EXPECT_THAT(records, ::testing::Not(Contains("Glue object created...")));
  // Without a Glue object every request fails.
  ComPtr<RecordingSink> sink(RecordingSink::create());
  EXPECT_EQ(runOperation(provider.get(), ns.get(), "enum", sink.get()), WBEM_E_FAILED);
  EXPECT_EQ(kinds(sink.get()), "");
  expectNoJniWarnings();
}

TEST_F(ProviderJvmTest, AThreadTheVmRefusesFailsItsRequestWithoutJava) {
  install(GlueJar::kScripted, /*sibling=*/true, /*gatedRuntime=*/true);
  ComPtr<IUnknown> provider = activate();
  ASSERT_EQ(initialize(provider.get()), WBEM_S_NO_ERROR);
  const size_t glueCallsBefore = glueCalls().size();

  ASSERT_EQ(refuseAttaches(true), 0);
  for (const char* operation : {"get", "put", "enum", "exec", "events"}) {
    SCOPED_TRACE(operation);
    ComPtr<RecordingSink> sink(RecordingSink::create());
    EXPECT_EQ(runOperation(provider.get(), ns.get(), operation, sink.get()), WBEM_E_FAILED);
    EXPECT_EQ(kinds(sink.get()), "");
  }
  // A later provider meets the running VM but cannot make its Glue object.
  ComPtr<IUnknown> second = activate();
  EXPECT_EQ(initialize(second.get()), WBEM_E_FAILED);
  EXPECT_EQ(refuseAttaches(false), 6);
  EXPECT_EQ(glueCalls().size(), glueCallsBefore) << "Java was called on a refused thread";

  // Once the VM takes threads again, requests are served.
  setControl("enum=1");
  ComPtr<RecordingSink> sink(RecordingSink::create());
  EXPECT_EQ(runOperation(provider.get(), ns.get(), "enum", sink.get()), WBEM_S_NO_ERROR);
  EXPECT_EQ(kinds(sink.get()), "IS");
  expectNoJniWarnings();
}

// A namespace whose classes cannot be instantiated: GetObject hands out a class whose
// SpawnInstance fails. The test counts its look-ups through a CountingNamespace, which lives where
// the 32 bits Java names it by reach.
class UnspawnableNamespace final : public velt::test::DeclinedServices {
 public:
  STDMETHODIMP QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  STDMETHODIMP GetObject(const BSTR, LONG, IWbemContext*, IWbemClassObject** out,
                         IWbemCallResult**) override {
    *out = &m_class;
    return WBEM_S_NO_ERROR;
  }

 private:
  velt::objectpath::test::ScriptedClassObject m_class;
};

TEST_F(ProviderJvmTest, AClassThatCannotBeInstantiatedFailsTheGetBeforeJava) {
  install();
  static UnspawnableNamespace unspawnable;  // outlives the server's last release of it
  velt::test::CountingNamespace* counting = velt::test::CountingNamespace::create(&unspawnable);
  ComPtr<IUnknown> provider = activate();
  ASSERT_EQ(initialize(provider.get(), u"root\\test", counting), WBEM_S_NO_ERROR);
  ComPtr<RecordingSink> sink(RecordingSink::create());
  EXPECT_EQ(runOperation(provider.get(), ns.get(), "get", sink.get()), WBEM_E_FAILED);
  EXPECT_EQ(kinds(sink.get()), "");
  EXPECT_EQ(counting->lookups(u"Gadget"), 1);
  EXPECT_EQ(counting->lookups(), 1);
  EXPECT_THAT(glueCalls(), ::testing::Not(Contains(HasSubstr("getInstance"))));
  provider.reset();
  counting->Release();
}

TEST_F(ProviderJvmTest, AFailedStartIsRetriedByTheNextInitialize) {
  install(GlueJar::kScripted, /*sibling=*/false);
  ComPtr<IUnknown> first = activate();
  EXPECT_EQ(initialize(first.get()), WBEM_E_FAILED);
  EXPECT_THAT(traces(), Contains("Unable to start JVM."));
  layout.link(VELT_TEST_SIBLING_LIBRARY, "ab/libqelvor.so");
  ComPtr<IUnknown> second = activate();
  EXPECT_EQ(initialize(second.get()), WBEM_S_NO_ERROR);
  first.reset();
  second.reset();
  EXPECT_THAT(traces(), Contains("Shutting down the JVM"));
}

TEST_F(ProviderJvmTest, AMissingGlueClassFailsEveryInitialize) {
  install(GlueJar::kNone);
  ComPtr<IUnknown> first = activate();
  EXPECT_EQ(initialize(first.get()), WBEM_E_FAILED);
  ComPtr<IUnknown> second = activate();
  EXPECT_EQ(initialize(second.get()), WBEM_E_FAILED);
  // The class load's own record and the provider's, twice.
  EXPECT_THAT(traces(), Contains("Loading com.norvex.sysmgt.proxy.Glue failed.").Times(4));
}

TEST_F(ProviderJvmTest, SeveralProvidersInitialiseAtOnce) {
  install();
  constexpr int kThreads = 4;
  std::vector<ComPtr<IUnknown>> providers(kThreads);
  std::vector<LONG> statuses(kThreads, -1);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      providers[static_cast<size_t>(i)] = activate();
      statuses[static_cast<size_t>(i)] = initialize(providers[static_cast<size_t>(i)].get());
      CoUninitialize();
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_THAT(statuses, ::testing::Each(WBEM_S_NO_ERROR));
  EXPECT_THAT(traces(),
              Contains(::testing::StartsWith("JvmServices object has been allocated")).Times(1));
  EXPECT_EQ(glueCalls().size(), static_cast<size_t>(kThreads));
  providers.clear();
  EXPECT_THAT(traces(), Contains("Shutting down the JVM").Times(1));
}

TEST_F(ProviderJvmTest, PointersAboveTwoGigabytesCrossBothWays) {
  if (!wmi::lowArenaHasHighRegion()) GTEST_SKIP() << "no arena region at or above 2 GiB here";
  install();
  ComPtr<IUnknown> provider = activate();
  ASSERT_EQ(initialize(provider.get()), WBEM_S_NO_ERROR);
  ComPtr<IWbemServices> services = servicesOf(provider.get());
  setControl("enum=8");
  ComPtr<RecordingSink> all(RecordingSink::create());
  EXPECT_EQ(runOperation(provider.get(), ns.get(), "enum", all.get()), WBEM_S_NO_ERROR);
  std::string handed = "handed";
  bool sawHigh = false;
  for (IWbemClassObject* object : all->objects()) {
    auto value = reinterpret_cast<std::uintptr_t>(object);
    sawHigh |= value >= 0x80000000u;
    handed += " " + std::to_string(static_cast<std::int32_t>(value));
  }
  EXPECT_TRUE(sawHigh);
  EXPECT_THAT(glueCalls(), Contains(handed));

  // Into Java: whichever instance lies high arrives as a negative long.
  std::vector<ComPtr<IWbemClassObject>> gadgets;
  for (int i = 0; i < 4; ++i) gadgets.push_back(newGadget(ns.get(), u"p"));
  for (const ComPtr<IWbemClassObject>& gadget : gadgets) {
    ComPtr<RecordingSink> put(RecordingSink::create());
    EXPECT_EQ(services->PutInstanceAsync(gadget.get(), 0, nullptr, put.get()), WBEM_S_NO_ERROR);
    EXPECT_THAT(glueCalls(),
                Contains("setInstance Gadget " + std::to_string(javaLong(gadget.get()))));
  }
  expectNoJniWarnings();
}

}  // namespace
}  // namespace velt::provider::test
