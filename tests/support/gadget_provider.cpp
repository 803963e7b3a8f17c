#include "gadget_provider.h"

#include <owners/com_ptr.h>
#include <owners/owned_variant.h>
#include <owners/unique_handle.h>
#include <owners/utf_text.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "local_server_registration.h"
#include "wbem_provider_base.h"
#include "wmi_model/objects.h"
#include "wmi_model/semisync_results.h"
#include "wmi_test_support.h"

namespace veltwmi::test {

const char* const kGadgetMof = R"MOF(
#pragma namespace("\\\\.\\root\\test")
[dynamic, provider("GadgetProvider")] class Gadget {
  [key] string Name; sint32 Size; string Tags[]; boolean Active; real64 Ratio;
  uint32 Grow([in] sint32 By, [out] sint32 NewSize);
};
class GadgetChanged { string Name; sint32 Size; };
instance of __Win32Provider as $P { Name = "GadgetProvider"; CLSID = "{3C2B7A10-5E4F-4D21-8B6A-910E2D447FC3}"; };
instance of __InstanceProviderRegistration { Provider = $P; SupportsGet = TRUE; SupportsPut = TRUE; SupportsEnumeration = TRUE; };
instance of __MethodProviderRegistration { Provider = $P; };
instance of __EventProviderRegistration { Provider = $P; EventQueryList = {"select * from GadgetChanged"}; };
)MOF";

namespace {

std::atomic<DWORD> g_serverThread{0};
std::atomic<int> g_liveProviders{0};
std::mutex g_mutex;
std::condition_variable g_released;
bool g_hold = false;
std::map<std::u16string, LONG> g_gadgets;  // name -> size
// The event sink of every provider object (one per client of a server), each fired into.
std::vector<IWbemObjectSink*> g_eventSinks;
bool g_flood = false;
std::condition_variable g_floodChanged;
std::atomic<unsigned long> g_flooded{0};
std::atomic<unsigned long> g_initializations{0};

LONG numberOf(IWbemClassObject* object, const char16_t* name) {
  velt::OwnedVariant value;
  object->Get(name, 0, value.get(), nullptr, nullptr);
  return value.get()->vt == VT_I4 ? value.get()->lVal : 0;
}

bool fitsIn32Bits(const void* pointer) {
  return reinterpret_cast<std::uintptr_t>(pointer) <= 0xFFFFFFFFu;
}

class GadgetProvider final : public velt::test::WbemProviderBase {
 public:
  GadgetProvider() { ++g_liveProviders; }
  ~GadgetProvider() {
    {
      std::lock_guard<std::mutex> lock(g_mutex);
      m_stopFlood = true;
      g_floodChanged.notify_all();
    }
    if (m_flood.joinable()) m_flood.join();
    if (m_namespace) m_namespace->Release();
    std::lock_guard<std::mutex> lock(g_mutex);
    if (m_eventSink) {
      std::erase(g_eventSinks, m_eventSink);
      m_eventSink->Release();
    }
    // The lifetime rule: the server ends with its last provider object, whichever client's.
    if (--g_liveProviders == 0) PostThreadMessageA(g_serverThread, WM_QUIT, 0, 0);
  }

  STDMETHODIMP Initialize(LPWSTR, LONG, LPWSTR, LPWSTR, IWbemServices* services,
                          IWbemContext* context, IWbemProviderInitSink* sink) override {
    // The system's provider hands these pointers to Java, which keeps them in 32 bits: a
    // namespace or sink above 4 GiB (a proxy made outside the low arena, say) fails it.
    if (!fitsIn32Bits(services) || !fitsIn32Bits(sink)) {
      sink->SetStatus(WBEM_E_FAILED, 0);
      return WBEM_S_NO_ERROR;
    }
    m_namespace = services;
    m_namespace->AddRef();
    if (velt::OwnedVariant why;
        context != nullptr && SUCCEEDED(context->GetValue(u"GadgetInitFails", 0, why.get()))) {
      // As the system's provider describes why it failed: a status object through the init
      // sink seen as an object sink, then the failure.
      velt::ComPtr<IWbemObjectSink> statusSink;
      sink->QueryInterface(IID_IWbemObjectSink, reinterpret_cast<void**>(statusSink.put()));
      IWbemClassObject* status = make(u"GadgetChanged", u"why the gadgets failed", 1);
      if (statusSink && status) {
        statusSink->SetStatus(WBEM_STATUS_COMPLETE, WBEM_E_FAILED, nullptr, status);
      }
      if (status) status->Release();
      statusSink = {};
      sink->SetStatus(WBEM_E_FAILED, 0);
      return WBEM_S_NO_ERROR;
    }
    ++g_initializations;
    sink->SetStatus(WBEM_S_INITIALIZED, 0);
    return WBEM_S_NO_ERROR;
  }

  STDMETHODIMP ProvideEvents(IWbemObjectSink* sink, LONG) override {
    if (!fitsIn32Bits(sink)) return WBEM_E_FAILED;
    std::lock_guard<std::mutex> lock(g_mutex);
    sink->AddRef();
    if (m_eventSink) {
      std::erase(g_eventSinks, m_eventSink);
      m_eventSink->Release();
    }
    m_eventSink = sink;
    g_eventSinks.push_back(sink);
    if (!m_flood.joinable()) m_flood = std::thread([this] { flood(); });
    return WBEM_S_NO_ERROR;
  }

  STDMETHODIMP GetObjectAsync(const BSTR path, LONG, IWbemContext* context,
                              IWbemObjectSink* sink) override {
    pause(context);
    std::u16string p(path);
    if (p.find(u"Broken") != std::u16string::npos) return WBEM_E_FAILED;
    if (p.find(u"Contrary") != std::u16string::npos) {
      // Many objects, its own final status, then a failure of the call: the final status the
      // client sees is the provider's, once.
      for (LONG i = 0; i < 2000; ++i) {
        IWbemClassObject* gadget = make(u"Gadget", u"contrary", i);
        sink->Indicate(1, &gadget);
        gadget->Release();
      }
      sink->SetStatus(WBEM_STATUS_COMPLETE, WBEM_E_NOT_FOUND, nullptr, nullptr);
      return WBEM_E_FAILED;
    }
    if (p.find(u"Stranger") != std::u16string::npos) {  // answers with another class
      IWbemClassObject* event = make(u"GadgetChanged", u"Stranger", 0);
      sink->Indicate(1, &event);
      sink->SetStatus(WBEM_STATUS_COMPLETE, WBEM_S_NO_ERROR, nullptr, nullptr);
      event->Release();
      return WBEM_S_NO_ERROR;
    }
    std::size_t open = p.find(u'"'), close = p.rfind(u'"');
    std::u16string name = open < close ? p.substr(open + 1, close - open - 1) : u"";
    LONG size = 0;
    {
      std::lock_guard<std::mutex> lock(g_mutex);
      auto found = g_gadgets.find(name);
      if (found == g_gadgets.end()) return WBEM_E_NOT_FOUND;
      size = found->second;
    }
    IWbemClassObject* gadget = make(u"Gadget", name, size);
    sink->Indicate(1, &gadget);
    sink->SetStatus(WBEM_STATUS_COMPLETE, WBEM_S_NO_ERROR, nullptr, nullptr);
    gadget->Release();
    return WBEM_S_NO_ERROR;
  }

  STDMETHODIMP PutInstanceAsync(IWbemClassObject* instance, LONG, IWbemContext*,
                                IWbemObjectSink* sink) override {
    std::u16string name = velt::wmi::test::getText(instance, u"Name");
    LONG size = numberOf(instance, u"Size");
    {
      std::lock_guard<std::mutex> lock(g_mutex);
      g_gadgets[name] = size;
      if (!g_eventSinks.empty()) {
        IWbemClassObject* event = make(u"GadgetChanged", name, size);
        for (IWbemObjectSink* events : g_eventSinks) events->Indicate(1, &event);
        event->Release();
      }
    }
    sink->SetStatus(WBEM_STATUS_COMPLETE, WBEM_S_NO_ERROR, nullptr, nullptr);
    return WBEM_S_NO_ERROR;
  }

  STDMETHODIMP CreateInstanceEnumAsync(const BSTR, LONG, IWbemContext* context,
                                       IWbemObjectSink* sink) override {
    // A context value "GadgetCount" asks for that many made-up gadgets, made as they are sent
    // and kept by no one, so long enumerations measure the crossing and not the provider.
    if (LONG count = contextNumber(context, u"GadgetCount"); count > 0) {
      return enumerateMadeUp(count, sink, context);
    }
    std::map<std::u16string, LONG> gadgets;
    {
      std::lock_guard<std::mutex> lock(g_mutex);
      gadgets = g_gadgets;
    }
    bool first = true;
    for (const auto& [name, size] : gadgets) {
      IWbemClassObject* gadget = make(u"Gadget", name, size);
      sink->Indicate(1, &gadget);
      gadget->Release();
      if (first) {
        std::unique_lock<std::mutex> lock(g_mutex);
        g_released.wait_for(lock, std::chrono::seconds(20), [] { return !g_hold; });
        first = false;
      }
    }
    sink->SetStatus(WBEM_STATUS_COMPLETE, WBEM_S_NO_ERROR, nullptr, nullptr);
    return WBEM_S_NO_ERROR;
  }

  // The synchronous and semisynchronous calls, made of the asynchronous ones as a service
  // makes them for a provider that serves only those.
  STDMETHODIMP CreateInstanceEnum(const BSTR className, LONG flags, IWbemContext* context,
                                  IEnumWbemClassObject** out) override {
    if (className == nullptr || out == nullptr) return WBEM_E_INVALID_PARAMETER;
    *out = nullptr;
    velt::ComPtr<IEnumWbemClassObject> enumerator;
    velt::ComPtr<IWbemObjectSink> sink;
    HRESULT status = velt::wmi::createResultEnumerator(flags, enumerator.put(), sink.put());
    if (FAILED(status)) return status;
    auto enumerate = [this, name = velt::bstrFromUtf16(className), flags,
                      context = velt::ComPtr<IWbemContext>::share(context), sink] {
      HRESULT started = CreateInstanceEnumAsync(name.get(), flags, context.get(), sink.get());
      if (FAILED(started)) sink->SetStatus(WBEM_STATUS_COMPLETE, started, nullptr, nullptr);
    };
    if ((flags & WBEM_FLAG_RETURN_IMMEDIATELY) != 0) {
      inBackground(std::move(enumerate));
    } else {
      enumerate();
    }
    *out = enumerator.detach();
    return WBEM_S_NO_ERROR;
  }

  STDMETHODIMP GetObject(const BSTR path, LONG flags, IWbemContext* context,
                         IWbemClassObject** object, IWbemCallResult** result) override {
    if (object != nullptr) *object = nullptr;
    if (result != nullptr) *result = nullptr;
    if (path == nullptr) return WBEM_E_INVALID_PARAMETER;
    const bool immediately = (flags & WBEM_FLAG_RETURN_IMMEDIATELY) != 0;
    if (immediately ? result == nullptr : object == nullptr) return WBEM_E_INVALID_PARAMETER;
    velt::ComPtr<IWbemCallResult> made;
    velt::ComPtr<IWbemObjectSink> sink;
    HRESULT status = velt::wmi::createCallResult(nullptr, made.put(), sink.put());
    if (FAILED(status)) return status;
    auto get = [this, name = velt::bstrFromUtf16(path), flags,
                context = velt::ComPtr<IWbemContext>::share(context), sink] {
      HRESULT started = GetObjectAsync(name.get(), flags, context.get(), sink.get());
      if (FAILED(started)) sink->SetStatus(WBEM_STATUS_COMPLETE, started, nullptr, nullptr);
    };
    if (immediately) {
      inBackground(std::move(get));
      *result = made.detach();
      return WBEM_S_NO_ERROR;
    }
    get();
    status = made->GetResultObject(LONG(WBEM_INFINITE), object);
    if (SUCCEEDED(status) && result != nullptr) *result = made.detach();
    return status;
  }

  static LONG contextNumber(IWbemContext* context, const char16_t* name) {
    if (context == nullptr) return 0;
    velt::OwnedVariant count;
    if (FAILED(context->GetValue(name, 0, count.get()))) return 0;
    return count.get()->vt == VT_I4 ? count.get()->lVal : 0;
  }
  // A context value "GadgetFetchEach" (true) asks the namespace for the class for every gadget,
  // as a provider that spawns through the SDK does.
  static bool fetchesEachClass(IWbemContext* context) {
    if (context == nullptr) return false;
    velt::OwnedVariant each;
    if (FAILED(context->GetValue(u"GadgetFetchEach", 0, each.get()))) return false;
    return each.get()->vt == VT_BOOL && each.get()->boolVal != VARIANT_FALSE;
  }
  // A context value "GadgetPauseMs" makes a slow provider: it pauses that long before each
  // answer (and each made-up gadget but the first).
  static void pause(IWbemContext* context) {
    if (LONG ms = contextNumber(context, u"GadgetPauseMs"); ms > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
  }
  // The provider object stays while the work runs, so its server does not end under it.
  template <typename Work>
  void inBackground(Work work) {
    AddRef();
    std::thread([this, work = std::move(work)]() mutable {
      work();
      Release();
    }).detach();
  }
  HRESULT enumerateMadeUp(LONG count, IWbemObjectSink* sink, IWbemContext* context) {
    const bool fetchEach = fetchesEachClass(context);
    HRESULT status = WBEM_S_NO_ERROR;
    for (LONG i = 0; i < count && SUCCEEDED(status); ++i) {
      if (i > 0) pause(context);
      IWbemClassObject* gadget =
          make(u"Gadget", velt::utf16FromUtf8("n" + std::to_string(i)), i, fetchEach);
      if (gadget == nullptr) return WBEM_E_INVALID_CLASS;
      status = sink->Indicate(1, &gadget);
      gadget->Release();
    }
    if (LONG ms = contextNumber(context, u"GadgetQuietMs"); ms > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
    sink->SetStatus(WBEM_STATUS_COMPLETE, SUCCEEDED(status) ? WBEM_S_NO_ERROR : status, nullptr,
                    nullptr);
    return WBEM_S_NO_ERROR;
  }

  STDMETHODIMP ExecMethodAsync(const BSTR, const BSTR method, LONG, IWbemContext*,
                               IWbemClassObject* in, IWbemObjectSink* sink) override {
    return velt::test::answerGrow(m_namespace, u"Gadget", method, in, sink);
  }

 private:
  // Class definitions are asked of the namespace once per provider object: across processes
  // each ask is a call back into the client.
  IWbemClassObject* make(const char16_t* className, const std::u16string& name, LONG size,
                         bool fetchEach = false) {
    IWbemClassObject* object = nullptr;
    if (fetchEach) {
      object = velt::test::spawnInstance(m_namespace, className);
    } else {
      std::lock_guard<std::mutex> lock(m_definitionsMutex);
      velt::ComPtr<IWbemClassObject>& definition = m_definitions[className];
      if (!definition) {
        m_namespace->GetObject(velt::UniqueBstr(SysAllocString(className)).get(), 0, nullptr,
                               definition.put(), nullptr);
      }
      if (definition) definition->SpawnInstance(0, &object);
    }
    if (object == nullptr) return nullptr;
    velt::wmi::test::putText(object, u"Name", name.c_str());
    velt::wmi::test::putInt(object, u"Size", size);
    return object;
  }

  void flood() {
    std::unique_lock<std::mutex> lock(g_mutex);
    for (;;) {
      g_floodChanged.wait(lock, [&] { return m_stopFlood || (g_flood && m_eventSink); });
      if (m_stopFlood) return;
      IWbemClassObject* event = make(u"GadgetChanged", u"flood", LONG(g_flooded++));
      m_eventSink->Indicate(1, &event);
      event->Release();
      lock.unlock();  // lets the others at the sink between two events
      lock.lock();
    }
  }

  IWbemServices* m_namespace = nullptr;
  IWbemObjectSink* m_eventSink = nullptr;  // guarded by g_mutex
  bool m_stopFlood = false;                // guarded by g_mutex
  std::mutex m_definitionsMutex;
  std::map<std::u16string, velt::ComPtr<IWbemClassObject>> m_definitions;
  std::thread m_flood;
};

velt::test::StaticProviderFactory<GadgetProvider> g_factory;

}  // namespace

int WINAPI gadgetProviderMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  return velt::test::serveClassFactory(CLSID_GadgetProvider, &g_factory, g_serverThread);
}

void floodEvents(bool on) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_flood = on;
  g_floodChanged.notify_all();
}
unsigned long floodedEvents() { return g_flooded; }
unsigned long providerInitializations() { return g_initializations; }

void holdEnumerations(bool hold) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_hold = hold;
  g_released.notify_all();
}

void registerGadgetServer() {
  velt::test::registerLocalServer(CLSID_GadgetProvider, "/opt/gadgets/server");
}

void resetGadgets() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_gadgets = {{u"g0", 0}, {u"g1", 1}, {u"g2", 2}};
}

velt::ComPtr<IWbemContext> gadgetContext(
    std::initializer_list<std::pair<const char16_t*, LONG>> values) {
  velt::ComPtr<IWbemContext> context;
  velt::wmi::createContext(context.put());
  for (const auto& [name, value] : values) {
    velt::OwnedVariant variant;
    variant.get()->vt = VT_I4;
    variant.get()->lVal = value;
    context->SetValue(name, 0, variant.get());
  }
  return context;
}

velt::ComPtr<IWbemClassObject> newGadget(IWbemServices* ns, const std::u16string& name, LONG size) {
  velt::ComPtr<IWbemClassObject> gadget(velt::test::spawnInstance(ns, u"Gadget"));
  if (gadget) {
    velt::wmi::test::putText(gadget.get(), u"Name", name.c_str());
    velt::wmi::test::putInt(gadget.get(), u"Size", size);
  }
  return gadget;
}

}  // namespace veltwmi::test
