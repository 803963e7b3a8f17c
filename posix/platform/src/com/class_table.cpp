// The process-wide table of registered class objects.
#include <mutex>
#include <vector>

#include "../remoting/activation.h"
#include "../remoting/publisher.h"
#include "com_state.h"

namespace {

struct Registration {
  DWORD cookie;
  CLSID clsid;
  IUnknown* object;  // one reference, held until revoked
  DWORD context;
  DWORD flags;
  bool handedOut;  // single-use registrations serve one activation only
};

struct ClassTable {
  std::mutex mutex;
  std::vector<Registration> entries;
  DWORD nextCookie = 1;
};

ClassTable& table() {
  static auto* classes = new ClassTable;
  return *classes;
}

bool usable(const Registration& entry, REFCLSID clsid, DWORD context) {
  return IsEqualGUID(entry.clsid, clsid) && (entry.context & context) != 0 &&
         !(entry.flags == REGCLS_SINGLEUSE && entry.handedOut);
}

}  // namespace

namespace velt::platform::com {
IUnknown* takeClassObject(REFCLSID clsid, DWORD context) {
  auto& classes = table();
  std::lock_guard lock(classes.mutex);
  for (auto& entry : classes.entries) {
    if (!usable(entry, clsid, context)) continue;
    entry.handedOut = true;
    entry.object->AddRef();  // under the lock, so a concurrent revoke cannot free it first
    return entry.object;
  }
  return nullptr;
}

bool classRegistered(REFCLSID clsid, DWORD context) {
  auto& classes = table();
  std::lock_guard lock(classes.mutex);
  for (const auto& entry : classes.entries) {
    if (usable(entry, clsid, context)) return true;
  }
  return false;
}
}  // namespace velt::platform::com

using namespace velt::platform::com;

namespace {

// HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE), as COM answers for a server process gone.
constexpr HRESULT kServerUnavailable = static_cast<HRESULT>(0x800706BA);

bool isDisconnection(HRESULT status) {
  return status == RPC_E_DISCONNECTED || status == kServerUnavailable;
}

// The class object from this process's table, else from the class's local server (`remote`
// then tells that it lives in another process).
HRESULT classObjectFor(REFCLSID clsid, DWORD clsContext, REFIID iid, void** object, bool& remote) {
  IUnknown* classObject = takeClassObject(clsid, clsContext);
  if (classObject == nullptr && (clsContext & CLSCTX_LOCAL_SERVER) != 0) {
    if (!inProcessLocalServer()) {
      remote = true;
      return velt::remoting::remoteClassObject(clsid, iid, object);
    }
    HRESULT started = activateLocalServer(clsid, CLSCTX_LOCAL_SERVER);
    if (FAILED(started)) return started;
    classObject = takeClassObject(clsid, clsContext);
  }
  if (classObject == nullptr) return REGDB_E_CLASSNOTREG;
  HRESULT hr = classObject->QueryInterface(iid, object);
  classObject->Release();
  return hr;
}

}  // namespace

extern "C" {

HRESULT STDAPICALLTYPE CoRegisterClassObject(REFCLSID clsid, IUnknown* unknown, DWORD clsContext,
                                             DWORD flags, LPDWORD registrationCookie) {
  if (unknown == nullptr || registrationCookie == nullptr) return E_INVALIDARG;
  *registrationCookie = 0;
  if (!callingThreadInCom()) return CO_E_NOTINITIALIZED;
  unknown->AddRef();
  {
    auto& classes = table();
    std::lock_guard lock(classes.mutex);
    // Several registrations of one class are independent, each with a cookie of its own.
    const DWORD cookie = classes.nextCookie++;
    classes.entries.push_back({cookie, clsid, unknown, clsContext, flags, false});
    *registrationCookie = cookie;
  }
  // A process COM started for a local server serves its classes to other processes.
  if ((clsContext & CLSCTX_LOCAL_SERVER) != 0 && velt::remoting::startedForEmbedding()) {
    HRESULT published = velt::remoting::publishClass(clsid, *registrationCookie);
    if (FAILED(published)) {
      CoRevokeClassObject(*registrationCookie);
      *registrationCookie = 0;
      return published;
    }
  }
  classTableChanged();
  return S_OK;
}

HRESULT STDAPICALLTYPE CoRevokeClassObject(DWORD registrationCookie) {
  if (!callingThreadInCom()) return CO_E_NOTINITIALIZED;
  IUnknown* object = nullptr;
  {
    auto& classes = table();
    std::lock_guard lock(classes.mutex);
    for (auto it = classes.entries.begin(); it != classes.entries.end(); ++it) {
      if (it->cookie != registrationCookie) continue;
      object = it->object;
      classes.entries.erase(it);
      break;
    }
  }
  if (object == nullptr) return CO_E_OBJNOTREG;
  velt::remoting::withdrawClass(registrationCookie);
  object->Release();  // outside the lock: the object may revoke or register in its release
  return S_OK;
}

HRESULT STDAPICALLTYPE CoGetClassObject(REFCLSID clsid, DWORD clsContext, LPVOID, REFIID iid,
                                        LPVOID* object) {
  if (object == nullptr) return E_INVALIDARG;
  *object = nullptr;
  if (!callingThreadInCom()) return CO_E_NOTINITIALIZED;
  bool remote = false;
  return classObjectFor(clsid, clsContext, iid, object, remote);
}

HRESULT STDAPICALLTYPE CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD clsContext,
                                        REFIID iid, LPVOID* object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (!callingThreadInCom()) return CO_E_NOTINITIALIZED;
  for (int attempt = 0;; ++attempt) {
    IClassFactory* factory = nullptr;
    bool remote = false;
    HRESULT hr = classObjectFor(clsid, clsContext, IID_IClassFactory,
                                reinterpret_cast<void**>(&factory), remote);
    if (FAILED(hr)) return hr;
    hr = factory->CreateInstance(outer, iid, object);
    factory->Release();
    // A server can hand out its class object and end before the object is made (its last
    // client had just let go), or refuse to make it as it is on its way out (its class is
    // revoked by then): COM then starts the server anew, once.
    if (remote && attempt == 0 && (isDisconnection(hr) || hr == CO_E_SERVER_STOPPING)) {
      *object = nullptr;
      continue;
    }
    return hr;
  }
}

}  // extern "C"
