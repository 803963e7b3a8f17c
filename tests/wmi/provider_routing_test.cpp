#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "fake_provider.h"
#include "test_support.h"
#include "winplatform/posix_hooks.h"
#include "winplatform/registry_hooks.h"

namespace velt::wmi::test {
namespace {

constexpr auto kWait = std::chrono::seconds(20);
const char* const kClassKey = "CLSID\\{5A1E0D3C-7B21-4C88-9E51-2F6A0B9C4D17}\\LocalServer32";

class ProviderRoutingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    registry_ =
        std::filesystem::temp_directory_path() /
        ("wmi_routing_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
         std::to_string(getpid()) + ".db");
    setenv("VELT_REGISTRY", registry_.c_str(), 1);
    VeltRegistryReset();
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    VeltSetLocalServerEntry(fakeProviderMain, nullptr, nullptr);
    service_.loadMofText(kTestMof, "test.mof");
    ASSERT_EQ(service_.openNamespace(u"root\\test", &ns_), WBEM_S_NO_ERROR);
  }
  void TearDown() override {
    if (ns_) ns_->Release();
    service_.shutdown();
    int exitCode = -1;
    EXPECT_TRUE(VeltWaitForLocalServerExit(20000, &exitCode));
    VeltSetLocalServerEntry(nullptr, nullptr, nullptr);
    EXPECT_EQ(fakeLog().liveProviders.load(), 0);
    EXPECT_EQ(liveObjectCount(), 0);
    CoUninitialize();
    VeltRegistryReset();
    std::filesystem::remove(registry_);
  }
  void registerServer() {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, kClassKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    const char exe[] = "/opt/fake/provider";
    RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(exe), sizeof exe);
    RegCloseKey(key);
  }
  // Runs an asynchronous request and hands back its sink after the final status.
  template <class Call>
  RecordingSink* run(Call call) {
    RecordingSink* sink = RecordingSink::create();
    EXPECT_EQ(call(sink), WBEM_S_NO_ERROR);
    EXPECT_TRUE(sink->waitForFinalStatus(kWait).has_value());
    return sink;
  }

  std::filesystem::path registry_;
  Service service_;
  IWbemServices* ns_ = nullptr;
};

TEST_F(ProviderRoutingTest, AClassWhoseServerIsNotRegisteredFailsWithClassNotRegistered) {
  Bstr path(u"Gadget.Name=\"a\"");
  RecordingSink* sink =
      run([&](IWbemObjectSink* s) { return ns_->GetObjectAsync(path, 0, nullptr, s); });
  EXPECT_EQ(sink->waitForFinalStatus(kWait), REGDB_E_CLASSNOTREG);
  EXPECT_TRUE(sink->objects().empty());
  sink->Release();
  EXPECT_EQ(service_.activeProviderCount(), 0u);
}

TEST_F(ProviderRoutingTest, RequestsReachTheProviderAndResultsReachTheClient) {
  registerServer();
  int initializedBefore = fakeLog().initializeCalls.load();
  IWbemContext* context = nullptr;
  createContext(&context);

  // get
  Bstr path(u"Gadget.Name=\"a\\\"b\"");
  RecordingSink* got =
      run([&](IWbemObjectSink* s) { return ns_->GetObjectAsync(path, 0, context, s); });
  EXPECT_EQ(got->waitForFinalStatus(kWait), WBEM_S_NO_ERROR);
  ASSERT_EQ(got->objects().size(), 1u);
  EXPECT_EQ(getText(got->objects()[0], u"__RELPATH"), u"Gadget.Name=\"found\"");
  std::vector<SinkEvent> events = got->events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].kind, SinkEvent::kIndicate);
  EXPECT_EQ(events[1].kind, SinkEvent::kSetStatus);
  got->Release();

  // a provider's failure status reaches the client's sink
  Bstr missing(u"Gadget.Name=\"Missing\"");
  RecordingSink* lost =
      run([&](IWbemObjectSink* s) { return ns_->GetObjectAsync(missing, 0, nullptr, s); });
  EXPECT_EQ(lost->waitForFinalStatus(kWait), WBEM_E_NOT_FOUND);
  lost->Release();

  // put
  IWbemClassObject* cls = classOf(ns_, u"Gadget");
  IWbemClassObject* gadget = nullptr;
  cls->SpawnInstance(0, &gadget);
  putText(gadget, u"Name", u"new");
  RecordingSink* put =
      run([&](IWbemObjectSink* s) { return ns_->PutInstanceAsync(gadget, 0, nullptr, s); });
  EXPECT_EQ(put->waitForFinalStatus(kWait), WBEM_S_NO_ERROR);
  ASSERT_EQ(put->objects().size(), 1u);
  EXPECT_EQ(put->objects()[0], gadget);
  put->Release();

  // enumerate
  Bstr className(u"Gadget");
  RecordingSink* all = run(
      [&](IWbemObjectSink* s) { return ns_->CreateInstanceEnumAsync(className, 0, nullptr, s); });
  ASSERT_EQ(all->objects().size(), 3u);
  EXPECT_EQ(getText(all->objects()[2], u"Name"), u"g2");
  all->Release();

  // execute a method
  IWbemClassObject* inDef = nullptr;
  cls->GetMethod(u"Grow", 0, &inDef, nullptr);
  IWbemClassObject* in = nullptr;
  inDef->SpawnInstance(0, &in);
  putInt(in, u"By", 5);
  Bstr target(u"Gadget.Name=\"a\""), method(u"Grow"), wrong(u"Shrink");
  RecordingSink* exec = run(
      [&](IWbemObjectSink* s) { return ns_->ExecMethodAsync(target, method, 0, nullptr, in, s); });
  ASSERT_EQ(exec->objects().size(), 1u);
  Var newSize;
  exec->objects()[0]->Get(u"NewSize", 0, &newSize.v, nullptr, nullptr);
  EXPECT_EQ(newSize.v.lVal, 15);
  exec->Release();
  RecordingSink* invalid = run(
      [&](IWbemObjectSink* s) { return ns_->ExecMethodAsync(target, wrong, 0, nullptr, in, s); });
  EXPECT_EQ(invalid->waitForFinalStatus(kWait), WBEM_E_INVALID_METHOD);
  invalid->Release();

  // events
  Bstr wql(u"WQL"), query(u"select * from GadgetEvent");
  RecordingSink* events1 = RecordingSink::create();
  ASSERT_EQ(ns_->ExecNotificationQueryAsync(wql, query, 0, nullptr, events1), WBEM_S_NO_ERROR);
  fireFakeEvent(u"hot");
  ASSERT_TRUE(events1->waitForObjects(1, kWait));
  EXPECT_EQ(getText(events1->objects()[0], u"What"), u"hot");
  EXPECT_EQ(ns_->CancelAsyncCall(events1), WBEM_S_NO_ERROR);
  EXPECT_EQ(events1->waitForFinalStatus(kWait), WBEM_E_CALL_CANCELLED);
  fireFakeEvent(u"after");
  EXPECT_EQ(events1->objects().size(), 1u);
  events1->Release();

  // one provider object served everything, initialised once with the namespace
  EXPECT_EQ(service_.activeProviderCount(), 1u);
  EXPECT_EQ(fakeLog().initializeCalls.load() - initializedBefore, 1);
  std::vector<std::u16string> calls = fakeLog().snapshot();
  EXPECT_NE(std::find(calls.begin(), calls.end(), u"Initialize root\\test"), calls.end());
  EXPECT_NE(std::find(calls.begin(), calls.end(), u"Get Gadget.Name=\"a\\\"b\""), calls.end());
  EXPECT_NE(std::find(calls.begin(), calls.end(), u"Put Gadget.Name=\"new\""), calls.end());
  EXPECT_NE(std::find(calls.begin(), calls.end(), u"Exec Gadget.Name=\"a\" Grow"), calls.end());
  EXPECT_NE(std::find(calls.begin(), calls.end(), u"ProvideEvents"), calls.end());
  for (const auto& c : calls) EXPECT_EQ(c.find(u"unexpected"), std::u16string::npos);

  in->Release();
  inDef->Release();
  gadget->Release();
  cls->Release();
  context->Release();
  // TearDown shuts the service down and proves the provider and its server are gone.
}

TEST_F(ProviderRoutingTest, ArgumentAndPathFaultsAreAnswered) {
  RecordingSink* sink = RecordingSink::create();
  EXPECT_EQ(ns_->GetObjectAsync(nullptr, 0, nullptr, sink), WBEM_E_INVALID_PARAMETER);
  Bstr bad(u"Gadget."), unknown(u"Nothing.Id=1"), klass(u"Nothing");
  RecordingSink* s1 =
      run([&](IWbemObjectSink* s) { return ns_->GetObjectAsync(bad, 0, nullptr, s); });
  EXPECT_EQ(s1->waitForFinalStatus(kWait), WBEM_E_INVALID_OBJECT_PATH);
  RecordingSink* s2 =
      run([&](IWbemObjectSink* s) { return ns_->GetObjectAsync(unknown, 0, nullptr, s); });
  EXPECT_EQ(s2->waitForFinalStatus(kWait), WBEM_E_INVALID_CLASS);
  IWbemClassObject* none = nullptr;
  EXPECT_EQ(ns_->GetObject(klass, 0, nullptr, &none, nullptr), WBEM_E_NOT_FOUND);
  s1->Release();
  s2->Release();
  sink->Release();
}

}  // namespace
}  // namespace velt::wmi::test
