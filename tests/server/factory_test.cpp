// The component base, the class factory and the server-lifetime rule, on a table of test
// components.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <objbase.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <future>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "seams.h"
#include "server/factory.h"
#include "server/server_exit_codes.h"
#include "server/unknown.h"

// Last: the test's own GUIDs below are defined here, not only declared.
#include <initguid.h>

namespace {

DEFINE_GUID(IID_ICounter, 0x3c1e9a52, 0x7d4b, 0x4e0f, 0x9a, 0x61, 0x0b, 0x2d, 0x8f, 0x44, 0x17,
            0xc3);
DEFINE_GUID(CLSID_TestComponent, 0x91b7f0d3, 0x25ac, 0x4a8e, 0xb3, 0x0f, 0x6e, 0x52, 0xd1, 0x9c,
            0x04, 0x7b);
DEFINE_GUID(CLSID_OtherComponent, 0x91b7f0d3, 0x25ac, 0x4a8e, 0xb3, 0x0f, 0x6e, 0x52, 0xd1, 0x9c,
            0x04, 0x7c);
DEFINE_GUID(IID_Unknown_To_All, 0x0badf00d, 0x0000, 0x0000, 0, 0, 0, 0, 0, 0, 0, 1);

struct ICounter : public IUnknown {
  virtual LONG STDMETHODCALLTYPE References() = 0;

 protected:
  ~ICounter() = default;
};

// What the creation function and the component report back to the tests.
struct Observed {
  IUnknown* outerGiven = nullptr;
  HRESULT createResult = S_OK;
  HRESULT initResult = S_OK;
  std::atomic<int> destroyed{0};
  std::function<void()> whileCreating;  // runs inside the creation function
};
Observed observed;

class CTestComponent : public CUnknown, public ICounter {
 public:
  static HRESULT CreateInstance(IUnknown* pOuter, CUnknown** out) {
    observed.outerGiven = pOuter;
    if (observed.whileCreating) observed.whileCreating();
    if (FAILED(observed.createResult)) return observed.createResult;
    *out = new CTestComponent(pOuter);
    return S_OK;
  }
  explicit CTestComponent(IUnknown* pOuter) : CUnknown(pOuter) {}
  ~CTestComponent() override { ++observed.destroyed; }

  HRESULT STDMETHODCALLTYPE InnerQueryInterface(REFIID iid, void** out) override {
    if (iid == IID_ICounter) return FinishQueryInterface(static_cast<ICounter*>(this), out);
    return CUnknown::InnerQueryInterface(iid, out);
  }
  HRESULT InitComponent() override { return observed.initResult; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    return m_pOuter->QueryInterface(iid, out);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return m_pOuter->AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return m_pOuter->Release(); }
  LONG STDMETHODCALLTYPE References() override { return m_refCount; }
};

// An aggregating object that only counts what reaches it.
struct FakeOuter final : public IUnknown {
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }
  ULONG references = 1;
};

}  // namespace

CFactoryEntry g_factoryEntries[] = {
    {&CLSID_TestComponent, &CTestComponent::CreateInstance, "Test component", "Test.Cmpnt.1",
     "Test.Cmpnt", nullptr, 0},
    {&CLSID_OtherComponent, &CTestComponent::CreateInstance, "Other component", "Other.Cmpnt.1",
     "Other.Cmpnt", nullptr, 0},
};
int g_factoryEntryCount = 2;
int listHostedProviders() { return 0; }  // the entry is run here, never asked for a listing

namespace {

class FactoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    observed.outerGiven = nullptr;
    observed.createResult = S_OK;
    observed.initResult = S_OK;
    observed.destroyed = 0;
    observed.whileCreating = nullptr;
    CUnknown::sm_activeComponents = 0;
    CFactory::sm_serverLocks = 0;
    CFactory::sm_creationsUnderWay = 0;
    CFactory::sm_ending = 0;
    velt::test::seams::createThreadMessageQueue();
    CFactory::sm_mainThreadId = GetCurrentThreadId();
    quitMessagesPosted();
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
  }
  void TearDown() override {
    m_factory->Release();
    CoUninitialize();
  }

  // Takes every message off this thread's queue; how many were WM_QUIT.
  static int quitMessagesPosted() {
    int quits = 0;
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) ++quits;
    }
    return quits;
  }

  CFactory* m_factory = new CFactory(&g_factoryEntries[0]);
};

TEST_F(FactoryTest, UnknownInterfaceDestroysTheNewComponentAtOnce) {
  void* out = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(m_factory->CreateInstance(nullptr, IID_Unknown_To_All, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(observed.destroyed, 1);
  EXPECT_EQ(CUnknown::sm_activeComponents, 0);
  EXPECT_EQ(quitMessagesPosted(), 1);
}

TEST_F(FactoryTest, AggregationIsAllowedOnlyForTheInnerUnknown) {
  FakeOuter outer;
  void* out = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(m_factory->CreateInstance(&outer, IID_ICounter, &out), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(out, reinterpret_cast<void*>(0x1));
  EXPECT_EQ(observed.outerGiven, nullptr);

  IUnknown* inner = nullptr;
  ASSERT_EQ(m_factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&inner)),
            S_OK);
  EXPECT_EQ(observed.outerGiven, &outer);
  // The interface parts delegate to the outer object; the inner unknown keeps the count.
  ICounter* counter = nullptr;
  ASSERT_EQ(inner->QueryInterface(IID_ICounter, reinterpret_cast<void**>(&counter)), S_OK);
  EXPECT_EQ(outer.references, 2u);
  EXPECT_EQ(counter->References(), 1);
  counter->Release();
  EXPECT_EQ(outer.references, 1u);
  EXPECT_EQ(inner->Release(), 0u);
  EXPECT_EQ(observed.destroyed, 1);
}

TEST_F(FactoryTest, FailedCreationOrInitialisationHandsBackItsCode) {
  void* out = nullptr;
  observed.createResult = E_OUTOFMEMORY;
  EXPECT_EQ(m_factory->CreateInstance(nullptr, IID_ICounter, &out), E_OUTOFMEMORY);
  EXPECT_EQ(CUnknown::sm_activeComponents, 0);
  EXPECT_EQ(quitMessagesPosted(), 0);

  observed.createResult = S_OK;
  observed.initResult = E_FAIL;
  EXPECT_EQ(m_factory->CreateInstance(nullptr, IID_ICounter, &out), E_FAIL);
  EXPECT_EQ(observed.destroyed, 1);
  EXPECT_EQ(CUnknown::sm_activeComponents, 0);
  EXPECT_EQ(quitMessagesPosted(), 1);
}

TEST_F(FactoryTest, LocksKeepTheServerAndNegativeCountsCountAsNoLock) {
  EXPECT_EQ(m_factory->LockServer(TRUE), S_OK);
  EXPECT_EQ(quitMessagesPosted(), 0);
  EXPECT_EQ(m_factory->LockServer(FALSE), S_OK);
  EXPECT_EQ(quitMessagesPosted(), 1);

  m_factory->LockServer(FALSE);
  EXPECT_EQ(CFactory::sm_serverLocks, -1);
  EXPECT_EQ(quitMessagesPosted(), 1);
  m_factory->LockServer(TRUE);
  EXPECT_EQ(quitMessagesPosted(), 1);

  // The last component going while a lock is held posts nothing; the unlock does.
  ICounter* counter = nullptr;
  m_factory->CreateInstance(nullptr, IID_ICounter, reinterpret_cast<void**>(&counter));
  m_factory->LockServer(TRUE);
  counter->Release();
  EXPECT_EQ(quitMessagesPosted(), 0);
  m_factory->LockServer(FALSE);
  EXPECT_EQ(quitMessagesPosted(), 1);
}

TEST_F(FactoryTest, AnyNonZeroComponentCountKeepsTheServer) {
  CUnknown::sm_activeComponents = -1;
  EXPECT_EQ(CFactory::CanUnloadNow(), S_FALSE);
  CUnknown::sm_activeComponents = 0;
  CFactory::sm_serverLocks = -3;
  EXPECT_EQ(CFactory::CanUnloadNow(), S_OK);
}

TEST_F(FactoryTest, FactoryHandsOutOnlyItsTwoInterfacesAndDiesWithItsLastReference) {
  IUnknown* asUnknown = nullptr;
  IClassFactory* asFactory = nullptr;
  void* other = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(m_factory->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&asUnknown)), S_OK);
  EXPECT_EQ(m_factory->QueryInterface(IID_IClassFactory, reinterpret_cast<void**>(&asFactory)),
            S_OK);
  EXPECT_EQ(m_factory->QueryInterface(IID_ICounter, &other), E_NOINTERFACE);
  EXPECT_EQ(other, nullptr);
  EXPECT_EQ(asUnknown->Release(), 2u);
  EXPECT_EQ(asFactory->Release(), 1u);
  // A factory is no component: it neither counts nor keeps the server.
  EXPECT_EQ(CUnknown::sm_activeComponents, 0);
}

TEST_F(FactoryTest, ConcurrentReferencesDeleteExactlyOnceAndPostOneQuit) {
  ICounter* counter = nullptr;
  ASSERT_EQ(m_factory->CreateInstance(nullptr, IID_ICounter, reinterpret_cast<void**>(&counter)),
            S_OK);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([counter, this] {
      for (int i = 0; i < 500; ++i) {
        counter->AddRef();
        m_factory->LockServer(TRUE);
        m_factory->LockServer(FALSE);
        counter->Release();
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(counter->References(), 1);
  EXPECT_EQ(quitMessagesPosted(), 0);
  counter->Release();
  EXPECT_EQ(observed.destroyed, 1);
  EXPECT_EQ(CFactory::sm_serverLocks, 0);
  EXPECT_EQ(quitMessagesPosted(), 1);
}

TEST_F(FactoryTest, StartedFactoriesServeActivationsUntilStopped) {
  ASSERT_TRUE(CFactory::StartFactories());
  EXPECT_NE(g_factoryEntries[0].registrationCookie, 0u);
  EXPECT_NE(g_factoryEntries[1].classFactory, nullptr);
  ICounter* counter = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_OtherComponent, nullptr, CLSCTX_LOCAL_SERVER, IID_ICounter,
                             reinterpret_cast<void**>(&counter)),
            S_OK);
  counter->Release();
  CFactory::StopFactories();
  EXPECT_EQ(g_factoryEntries[0].classFactory, nullptr);
  IClassFactory* revoked = nullptr;
  EXPECT_TRUE(FAILED(CoGetClassObject(CLSID_TestComponent, CLSCTX_LOCAL_SERVER, nullptr,
                                      IID_IClassFactory, reinterpret_cast<void**>(&revoked))));
  // A second stop finds nothing left to release.
  CFactory::StopFactories();
}

TEST_F(FactoryTest, FailedRegistrationReturnsFalseAndLeavesNothingToRelease) {
  // COM refuses registrations while no thread of the process is in an apartment.
  CoUninitialize();
  bool started = CFactory::StartFactories();
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
  EXPECT_FALSE(started);
  EXPECT_EQ(g_factoryEntries[0].classFactory, nullptr);
  EXPECT_EQ(g_factoryEntries[0].registrationCookie, 0u);
  CFactory::StopFactories();

  g_factoryEntryCount = 0;
  EXPECT_TRUE(CFactory::StartFactories());
  CFactory::StopFactories();
  g_factoryEntryCount = 2;
  EXPECT_EQ(g_factoryEntries[0].classFactory, nullptr);
}

// A client can be handed a component after the quit was posted: it asked just as the last one
// went. The server must not end under it.
TEST_F(FactoryTest, AServerOnItsWayOutWaitsForWhatItServesAndMakesNothingMore) {
  ICounter* counter = nullptr;
  ASSERT_EQ(m_factory->CreateInstance(nullptr, IID_ICounter, reinterpret_cast<void**>(&counter)),
            S_OK);
  EXPECT_FALSE(CFactory::ReadyToEnd());
  // A client that still holds the factory is refused, so it goes to a new server.
  void* refused = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(m_factory->CreateInstance(nullptr, IID_ICounter, &refused), CO_E_SERVER_STOPPING);
  EXPECT_EQ(refused, nullptr);
  EXPECT_EQ(CUnknown::sm_activeComponents, 1);
  EXPECT_EQ(quitMessagesPosted(), 0);
  counter->Release();
  EXPECT_EQ(quitMessagesPosted(), 1);
  EXPECT_TRUE(CFactory::ReadyToEnd());

  // A lock keeps it the same way; its release is the cue to look again.
  CFactory::sm_ending = 0;
  m_factory->LockServer(TRUE);
  EXPECT_FALSE(CFactory::ReadyToEnd());
  m_factory->LockServer(FALSE);
  EXPECT_EQ(quitMessagesPosted(), 1);
  EXPECT_TRUE(CFactory::ReadyToEnd());

  // Started again (as a test runs the entry more than once), the factories serve again.
  ASSERT_TRUE(CFactory::StartFactories());
  ASSERT_EQ(m_factory->CreateInstance(nullptr, IID_ICounter, reinterpret_cast<void**>(&counter)),
            S_OK);
  counter->Release();
  CFactory::StopFactories();
}

TEST_F(FactoryTest, ACreationUnderWayKeepsTheServerAndTellsItWhenItIsOver) {
  bool readyWhileCreating = true;
  observed.whileCreating = [&] { readyWhileCreating = CFactory::ReadyToEnd(); };
  observed.createResult = E_OUTOFMEMORY;  // made nothing, so nothing else would post the quit
  void* out = nullptr;
  EXPECT_EQ(m_factory->CreateInstance(nullptr, IID_ICounter, &out), E_OUTOFMEMORY);
  EXPECT_FALSE(readyWhileCreating);
  EXPECT_EQ(quitMessagesPosted(), 1);
  EXPECT_TRUE(CFactory::ReadyToEnd());
}

// The entry itself: the quit already waits in its queue while a component is alive.
TEST_F(FactoryTest, TheEntryEndsOnlyOnceTheComponentsMadeBeforeItsQuitAreGone) {
  velt::test::seams::ExecutableFolder folder("", "VeltProxyProvider");
  std::ofstream{folder.file("qelvor.dbg")};
  const auto log = folder.file("qelvor.log");
  auto traceLog = [&] {
    std::ifstream in(log);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
  };
  ICounter* counter = nullptr;
  ASSERT_EQ(m_factory->CreateInstance(nullptr, IID_ICounter, reinterpret_cast<void**>(&counter)),
            S_OK);

  std::promise<DWORD> threadId;
  std::promise<void> quitPosted;
  std::atomic<int> destroyedWhenItEnded{-1};
  std::future<int> exitCode = std::async(std::launch::async, [&] {
    velt::test::seams::createThreadMessageQueue();
    threadId.set_value(GetCurrentThreadId());
    quitPosted.get_future().wait();
    velt::test::seams::allowComSecurityAgain();
    char commandLine[] = "-Embedding";
    int code = WinMain(nullptr, nullptr, commandLine, SW_SHOWDEFAULT);
    destroyedWhenItEnded = observed.destroyed.load();
    return code;
  });
  PostThreadMessageA(threadId.get_future().get(), WM_QUIT, 0, 0);
  quitPosted.set_value();

  const std::string serving = "Components are still alive; the server serves them before it ends.";
  const auto bound = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (traceLog().find(serving) == std::string::npos &&
         std::chrono::steady_clock::now() < bound) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_NE(traceLog().find(serving), std::string::npos) << traceLog();
  // Its class is revoked meanwhile: new activations do not reach a server on its way out.
  IClassFactory* revoked = nullptr;
  EXPECT_TRUE(FAILED(CoGetClassObject(CLSID_TestComponent, CLSCTX_LOCAL_SERVER, nullptr,
                                      IID_IClassFactory, reinterpret_cast<void**>(&revoked))));
  counter->Release();
  if (exitCode.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
    ADD_FAILURE() << "the entry did not end";
    std::abort();
  }
  EXPECT_EQ(exitCode.get(), kExitOk);
  EXPECT_EQ(destroyedWhenItEnded, 1);
}

}  // namespace
