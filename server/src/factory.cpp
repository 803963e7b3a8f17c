#include "server/factory.h"

#include <cinttypes>
#include <cstdio>
#include <new>

#include "server/unknown.h"
#include "trace/trace.h"

LONG CFactory::sm_serverLocks = 0;
LONG CFactory::sm_creationsUnderWay = 0;
LONG CFactory::sm_ending = 0;
DWORD CFactory::sm_mainThreadId = 0;
HMODULE CFactory::sm_module = nullptr;

namespace {

constexpr char kClassName[] = "CFactory";

// One atomic read of a counter that other threads change with interlocked operations.
LONG readCounter(LONG* counter) { return InterlockedCompareExchange(counter, 0, 0); }

// Nothing left that the server serves or is about to serve. No trace: asked on the way out.
bool nothingAlive() {
  return readCounter(&CUnknown::sm_activeComponents) == 0 &&
         readCounter(&CFactory::sm_serverLocks) <= 0 &&
         readCounter(&CFactory::sm_creationsUnderWay) == 0;
}

// Counts one CreateInstance as under way while it lives. A server already on its way out
// waits for it, so it is told when the last one is over.
class CreationUnderWay {
 public:
  CreationUnderWay() { InterlockedIncrement(&CFactory::sm_creationsUnderWay); }
  ~CreationUnderWay() {
    InterlockedDecrement(&CFactory::sm_creationsUnderWay);
    if (readCounter(&CFactory::sm_ending) != 0 && nothingAlive()) {
      PostThreadMessageA(CFactory::sm_mainThreadId, WM_QUIT, 0, 0);
    }
  }
  CreationUnderWay(const CreationUnderWay&) = delete;
  CreationUnderWay& operator=(const CreationUnderWay&) = delete;
};

void postQuitIfIdle() {
  if (CFactory::CanUnloadNow() == S_OK) {
    PostThreadMessageA(CFactory::sm_mainThreadId, WM_QUIT, 0, 0);
  }
}

// A server that cannot offer its class ends at once; whoever looks for the reason finds it in
// the trace log and in the console output, which COM's launcher keeps beside the executable.
void reportStartFailure(const char* what, HRESULT hr) {
  traceFormat(kClassName, "Could not register the class factory: %s (0x%08X).\n", what,
              static_cast<unsigned>(hr));
  traceSystemError(static_cast<DWORD>(hr));
  std::fprintf(stderr, "NorvexVelt Proxy Provider: %s (0x%08X); the server stops.\n", what,
               static_cast<unsigned>(hr));
  std::fflush(stderr);
}

}  // namespace

CFactory::CFactory(CFactoryEntry* pEntry) : m_refCount(1), m_pEntry(nullptr) {
  trace(kClassName, "CFactory::CFactory()", 0);
  m_pEntry = pEntry;
}

HRESULT STDMETHODCALLTYPE CFactory::QueryInterface(REFIID iid, void** out) {
  trace(kClassName, "CFactory::QueryInterface", 0);
  if (out == nullptr) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IClassFactory) {
    AddRef();
    *out = static_cast<IClassFactory*>(this);
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CFactory::AddRef() {
  trace(kClassName, "CFactory::AddRef", 0);
  char text[32];
  std::snprintf(text, sizeof text, "this = %" PRIxPTR, reinterpret_cast<uintptr_t>(this));
  trace(kClassName, text, 0);
  return static_cast<ULONG>(InterlockedIncrement(&m_refCount));
}

ULONG STDMETHODCALLTYPE CFactory::Release() {
  trace(kClassName, "CFactory::Release", 0);
  LONG remaining = InterlockedDecrement(&m_refCount);
  if (remaining == 0) {
    delete this;
    return 0;
  }
  return static_cast<ULONG>(remaining);
}

HRESULT STDMETHODCALLTYPE CFactory::CreateInstance(IUnknown* pOuter, REFIID iid, void** out) {
  trace(kClassName, "CFactory::CreateInstance(). Creating the NorvexVelt Proxy Provider component.",
        0);
  if (out == nullptr) return E_POINTER;
  if (pOuter != nullptr && iid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
  // Counted before the server's state is read: a server deciding to end either sees this
  // creation and waits for it, or has decided already and this creation is refused.
  CreationUnderWay underWay;
  if (readCounter(&sm_ending) != 0) {
    *out = nullptr;
    trace(kClassName, "The server is on its way out; it makes no more components.", 0);
    return CO_E_SERVER_STOPPING;
  }

  CUnknown* component = nullptr;
  HRESULT hr = m_pEntry->createFunction(pOuter, &component);
  if (FAILED(hr)) return hr;
  // A creation function that reports success without a component must not be followed.
  if (component == nullptr) return E_OUTOFMEMORY;

  hr = component->InitComponent();
  if (FAILED(hr)) {
    component->InnerRelease();
    return hr;
  }
  hr = component->InnerQueryInterface(iid, out);
  // Drops the creation reference: the component lives on what the query handed out, or goes.
  component->InnerRelease();
  return hr;
}

HRESULT STDMETHODCALLTYPE CFactory::LockServer(BOOL lock) {
  trace(kClassName, "CFactory::LockServer", 0);
  if (lock) {
    trace(kClassName, "Locking the component server module.", 0);
    InterlockedIncrement(&sm_serverLocks);
  } else {
    trace(kClassName, "Unlocking the component server module.", 0);
    InterlockedDecrement(&sm_serverLocks);
  }
  postQuitIfIdle();
  return S_OK;
}

HRESULT CFactory::CanUnloadNow() {
  trace(kClassName, "CFactory::CanUnloadNow. Determining if the component can be unloaded.", 0);
  // A negative lock count counts as no lock; a component count of either sign keeps the server.
  if (readCounter(&CUnknown::sm_activeComponents) != 0 || readCounter(&sm_serverLocks) > 0) {
    trace(kClassName, "Not unloading", 0);
    return S_FALSE;
  }
  trace(kClassName, "Unloading", 0);
  return S_OK;
}

bool CFactory::StartFactories() {
  trace(kClassName, "CFactory::StartFactories(). Registering class factory.", 0);
  InterlockedExchange(&sm_ending, 0);
  for (int row = 0; row < g_factoryEntryCount; ++row) {
    CFactoryEntry& entry = g_factoryEntries[row];
    entry.classFactory = nullptr;
    entry.registrationCookie = 0;

    CFactory* factory = new (std::nothrow) CFactory(&entry);
    if (factory == nullptr) {
      reportStartFailure("the class factory could not be made", E_OUTOFMEMORY);
      return false;
    }
    DWORD cookie = 0;
    HRESULT hr = CoRegisterClassObject(*entry.classId, factory, CLSCTX_LOCAL_SERVER,
                                       REGCLS_MULTIPLEUSE, &cookie);
    if (FAILED(hr)) {
      reportStartFailure("COM did not accept the class factory", hr);
      factory->Release();
      return false;
    }
    // The table keeps the factory's initial reference.
    entry.classFactory = factory;
    entry.registrationCookie = cookie;
  }
  return true;
}

void CFactory::StopFactories() {
  trace(kClassName, "CFactory::StopFactories(). Stopping Class Factory.", 0);
  for (int row = 0; row < g_factoryEntryCount; ++row) {
    CFactoryEntry& entry = g_factoryEntries[row];
    if (entry.registrationCookie != 0) CoRevokeClassObject(entry.registrationCookie);
    if (entry.classFactory != nullptr) entry.classFactory->Release();
    // Cleared so that a second stop, or a stop after a partial start, never releases a
    // factory twice.
    entry.classFactory = nullptr;
    entry.registrationCookie = 0;
  }
}

bool CFactory::ReadyToEnd() {
  InterlockedExchange(&sm_ending, 1);
  return nothingAlive();
}
