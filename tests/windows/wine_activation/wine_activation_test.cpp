// The server as a process of its own under a COM that is not ours: Wine starts it from its
// registration, the WMI interfaces cross to it through the proxy/stub library built from our own
// description of them, and the lifetime rule ends it after the last release. Each step says on
// the test's output what Wine did.
#include <gtest/gtest.h>
#include <objbase.h>
#include <wbemcli.h>
#include <wbemprov.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "caller_objects.h"
#include "owners/com_ptr.h"
#include "owners/unique_handle.h"
#include "server/server_exit_codes.h"
#include "wine_process.h"
// The one translation unit that defines the provider's class identifier.
#include <initguid.h>

#include "provider/provider_class_id.h"

namespace velt::test {
namespace {

const std::wstring kServerName = L"VeltProxyProvider.exe";
const std::wstring kMarshallerName = L"velt_wmi_marshal.dll";
// Far above what any step takes, but short enough that a hang fails the test instead of the
// test's time limit. A fresh prefix makes the first Wine steps take longest.
constexpr DWORD kProgramWait = 120000;
constexpr DWORD kServerEndWait = 30000;
constexpr int kPollSteps = 300;
constexpr DWORD kPollInterval = 100;

void say(const char* text, HRESULT hr) {
  std::printf("[wine] %s: 0x%08lX\n", text, static_cast<unsigned long>(hr));
  std::fflush(stdout);
}

bool waitUntil(auto condition) {
  for (int step = 0; step < kPollSteps; ++step) {
    if (condition()) return true;
    Sleep(kPollInterval);
  }
  return condition();
}

HRESULT callMarshallerEntry(HMODULE library, const char* entry) {
  using Entry = HRESULT(STDAPICALLTYPE*)();
  auto function = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(library, entry)));
  return function != nullptr ? function() : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
}

class WineActivation : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!runningUnderWine()) return;
    s_rpcServiceRuns = startRpcService(kProgramWait);
    std::printf("[wine] RpcSs service: %s\n", s_rpcServiceRuns ? "running" : "NOT RUNNING");
    std::optional<DWORD> registered =
        runToEnd(L"\"" + besideThisProgram(kServerName) + L"\" -RegServer", kProgramWait);
    s_serverRegistered = registered && *registered == static_cast<DWORD>(kExitOk);
    std::printf("[wine] %ls -RegServer: %s\n", kServerName.c_str(),
                s_serverRegistered ? "registered" : "FAILED");
    s_marshaller.reset(LoadLibraryW(besideThisProgram(kMarshallerName).c_str()));
    s_marshallerRegistered =
        s_marshaller.get() != nullptr &&
        SUCCEEDED(callMarshallerEntry(s_marshaller.get(), "DllRegisterServer"));
    std::printf("[wine] %ls DllRegisterServer: %s\n", kMarshallerName.c_str(),
                s_marshallerRegistered ? "registered" : "FAILED");
  }

  static void TearDownTestSuite() {
    if (!runningUnderWine()) return;
    if (s_marshaller.get() != nullptr) {
      callMarshallerEntry(s_marshaller.get(), "DllUnregisterServer");
      s_marshaller.reset();
    }
    runToEnd(L"\"" + besideThisProgram(kServerName) + L"\" -UnregServer", kProgramWait);
  }

  void SetUp() override {
    // Registering marshallers for the WMI interfaces on a real Windows would replace its own.
    if (!runningUnderWine()) GTEST_SKIP() << "needs Wine's COM";
    ASSERT_TRUE(s_rpcServiceRuns);
    ASSERT_TRUE(s_serverRegistered);
    ASSERT_TRUE(s_marshallerRegistered);
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    m_comInitialized = true;
    // A server of an earlier case must have ended: this case counts its own.
    ASSERT_TRUE(waitUntil([] { return processesNamed(kServerName).empty(); }));
  }

  void TearDown() override {
    if (m_comInitialized) CoUninitialize();
  }

  // Activates the provider's class out of process and opens the one server process Wine
  // started for it; reports its command line.
  void activate(ComPtr<IUnknown>& provider) {
    HRESULT hr = CoCreateInstance(CLSID_NorvexVeltProxyProvider, nullptr, CLSCTX_LOCAL_SERVER,
                                  IID_IUnknown, provider.putVoid());
    say("CoCreateInstance(CLSCTX_LOCAL_SERVER)", hr);
    ASSERT_EQ(hr, S_OK);
    std::vector<DWORD> servers = processesNamed(kServerName);
    ASSERT_EQ(servers.size(), 1u);
    m_server.reset(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE,
                               servers.front()));
    ASSERT_NE(m_server.get(), nullptr);
    std::wstring commandLine = commandLineOf(m_server.get());
    std::printf("[wine] server process %lu started as: %ls\n",
                static_cast<unsigned long>(servers.front()), commandLine.c_str());
    EXPECT_NE(commandLine.find(L"-Embedding"), std::wstring::npos) << "no -Embedding";
  }

  // After the caller's last release the lifetime rule ends the server, cleanly.
  void expectServerEnds() {
    DWORD waited = WaitForSingleObject(m_server.get(), kServerEndWait);
    ASSERT_EQ(waited, WAIT_OBJECT_0) << "the server still runs after the last release";
    DWORD exitCode = 1;
    ASSERT_TRUE(GetExitCodeProcess(m_server.get(), &exitCode));
    std::printf("[wine] server ended with exit code %lu\n", static_cast<unsigned long>(exitCode));
    EXPECT_EQ(exitCode, static_cast<DWORD>(kExitOk));
  }

  static inline bool s_rpcServiceRuns = false;
  static inline bool s_serverRegistered = false;
  static inline bool s_marshallerRegistered = false;
  static inline UniqueModule s_marshaller;
  bool m_comInitialized = false;
  UniqueKernelHandle m_server;
};

TEST_F(WineActivation, TheProviderAnswersItsInterfacesFromItsOwnProcessUntilTheLastRelease) {
  ComPtr<IUnknown> provider;
  ASSERT_NO_FATAL_FAILURE(activate(provider));

  ComPtr<IWbemProviderInit> init;
  HRESULT hr = provider.get()->QueryInterface(IID_IWbemProviderInit, init.putVoid());
  say("QueryInterface(IWbemProviderInit)", hr);
  EXPECT_EQ(hr, S_OK);
  ComPtr<IWbemServices> services;
  hr = provider.get()->QueryInterface(IID_IWbemServices, services.putVoid());
  say("QueryInterface(IWbemServices)", hr);
  EXPECT_EQ(hr, S_OK);
  ComPtr<IWbemEventProvider> events;
  hr = provider.get()->QueryInterface(IID_IWbemEventProvider, events.putVoid());
  say("QueryInterface(IWbemEventProvider)", hr);
  EXPECT_EQ(hr, S_OK);
  // An interface the provider does not have is refused across the boundary as well.
  ComPtr<IWbemObjectSink> notOffered;
  hr = provider.get()->QueryInterface(IID_IWbemObjectSink, notOffered.putVoid());
  say("QueryInterface(IWbemObjectSink)", hr);
  EXPECT_EQ(hr, E_NOINTERFACE);

  // A declined operation answers its own status across the process boundary.
  if (services) {
    BSTR none = nullptr;
    hr = services.get()->DeleteClassAsync(none, 0, nullptr, nullptr);
    say("IWbemServices::DeleteClassAsync", hr);
    EXPECT_EQ(hr, WBEM_E_NOT_SUPPORTED);
  }

  events.reset();
  services.reset();
  init.reset();
  ULONG left = provider.detach()->Release();
  std::printf("[wine] last Release returned %lu\n", static_cast<unsigned long>(left));
  EXPECT_EQ(left, 0u);
  expectServerEnds();
}

TEST_F(WineActivation, InitializeWithoutJavaRuntimeFailsThroughTheSinksOfTheCaller) {
  ComPtr<IUnknown> provider;
  ASSERT_NO_FATAL_FAILURE(activate(provider));
  ComPtr<IWbemProviderInit> init;
  ASSERT_EQ(provider.get()->QueryInterface(IID_IWbemProviderInit, init.putVoid()), S_OK);

  auto* nameSpace = new CallerNamespace;
  auto* sink = new CallerInitSink;
  HRESULT hr =
      init.get()->Initialize(nullptr, 0, const_cast<LPWSTR>(L"root\\cimv2"), nullptr, nameSpace,
                             nullptr, static_cast<IWbemProviderInitSink*>(sink));
  say("IWbemProviderInit::Initialize", hr);
  EXPECT_EQ(hr, WBEM_S_NO_ERROR);

  // The failure's description: the provider asked the caller's namespace for the status class,
  // spawned an instance in the caller's process, filled it, and handed it back to the sink.
  std::vector<std::wstring> asked = nameSpace->classesAsked();
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked.front(), L"__ExtendedStatus");
  std::vector<CallerInitSink::ObjectStatus> described = sink->objectStatuses();
  ASSERT_EQ(described.size(), 1u);
  say("IWbemObjectSink::SetStatus status", described.front().result);
  EXPECT_EQ(described.front().flags, WBEM_STATUS_COMPLETE);
  EXPECT_EQ(described.front().result, WBEM_E_PROVIDER_LOAD_FAILURE);
  ASSERT_TRUE(described.front().withObject);
  ASSERT_EQ(nameSpace->statusClasses().size(), 1u);
  std::vector<StatusObject*> instances = nameSpace->statusClasses().front()->instances();
  ASSERT_EQ(instances.size(), 1u);
  // Passed by reference, it came back to this process as the very object spawned here.
  EXPECT_EQ(sink->statusObjects().front(), static_cast<IWbemClassObject*>(instances.front()));
  std::map<std::wstring, std::wstring> texts = instances.front()->texts();
  std::printf("[wine] status Description: %ls\n", texts[L"Description"].c_str());
  EXPECT_EQ(texts[L"Description"].rfind(L"The Java runtime was not found.", 0), 0u);
  EXPECT_EQ(texts[L"Operation"], L"Initialize");
  EXPECT_EQ(texts[L"ProviderName"], L"NorvexVeltProxyProvider");
  EXPECT_EQ(instances.front()->numbers()[L"StatusCode"], WBEM_E_PROVIDER_LOAD_FAILURE);

  std::vector<LONG> statuses = sink->initStatuses();
  ASSERT_EQ(statuses.size(), 1u);
  say("IWbemProviderInitSink::SetStatus", statuses.front());
  EXPECT_EQ(statuses.front(), WBEM_E_FAILED);

  init.reset();
  provider.reset();
  expectServerEnds();
  // The server gave back every reference it held on the caller's objects.
  nameSpace->Release();
  sink->Release();
  bool allReleased = waitUntil([] { return liveCallerObjects == 0; });
  std::printf("[wine] caller objects left after the server ended: %d\n",
              static_cast<int>(liveCallerObjects));
  EXPECT_TRUE(allReleased);
}

}  // namespace
}  // namespace velt::test
