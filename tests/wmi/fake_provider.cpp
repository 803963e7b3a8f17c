#include "fake_provider.h"

#include <thread>

#include "test_support.h"

namespace velt::wmi::test {
namespace {

DWORD g_serverThread = 0;
std::mutex g_eventMutex;
IWbemObjectSink* g_eventSink = nullptr;
IWbemServices* g_eventNamespace = nullptr;

std::u16string text(const OLECHAR* s) { return s ? std::u16string(s) : u""; }

#define NOT_SUPPORTED(signature) \
  STDMETHODIMP signature override { return WBEM_E_NOT_SUPPORTED; }

class FakeProvider final : public IWbemProviderInit,
                           public IWbemServices,
                           public IWbemEventProvider {
 public:
  FakeProvider() { ++fakeLog().liveProviders; }
  ~FakeProvider() {
    if (namespace_) namespace_->Release();
    {
      std::lock_guard<std::mutex> lock(g_eventMutex);
      if (g_eventSink) g_eventSink->Release();
      if (g_eventNamespace) g_eventNamespace->Release();
      g_eventSink = nullptr;
      g_eventNamespace = nullptr;
    }
    if (--fakeLog().liveProviders == 0) PostThreadMessageA(g_serverThread, WM_QUIT, 0, 0);
  }

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IWbemProviderInit) {
      *out = static_cast<IWbemProviderInit*>(this);
    } else if (iid == IID_IWbemServices) {
      *out = static_cast<IWbemServices*>(this);
    } else if (iid == IID_IWbemEventProvider) {
      *out = static_cast<IWbemEventProvider*>(this);
    } else {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --refs_;
    if (!left) delete this;
    return left;
  }

  STDMETHODIMP Initialize(LPWSTR user, LONG flags, LPWSTR nameSpace, LPWSTR locale,
                          IWbemServices* services, IWbemContext*,
                          IWbemProviderInitSink* sink) override {
    ++fakeLog().initializeCalls;
    fakeLog().add(u"Initialize " + text(nameSpace) +
                  (user || locale || flags ? u" unexpected" : u""));
    namespace_ = services;
    namespace_->AddRef();
    sink->SetStatus(WBEM_S_INITIALIZED, 0);
    return WBEM_S_NO_ERROR;
  }

  STDMETHODIMP ProvideEvents(IWbemObjectSink* sink, LONG flags) override {
    fakeLog().add(u"ProvideEvents" + std::u16string(flags ? u" unexpected" : u""));
    std::lock_guard<std::mutex> lock(g_eventMutex);
    sink->AddRef();
    namespace_->AddRef();
    if (g_eventSink) g_eventSink->Release();
    if (g_eventNamespace) g_eventNamespace->Release();
    g_eventSink = sink;
    g_eventNamespace = namespace_;
    return WBEM_S_NO_ERROR;
  }

  STDMETHODIMP GetObjectAsync(const BSTR path, LONG, IWbemContext*,
                              IWbemObjectSink* sink) override {
    std::u16string p = text(path);
    fakeLog().add(u"Get " + p);
    if (p.find(u"Missing") != std::u16string::npos) return WBEM_E_NOT_FOUND;
    IWbemClassObject* instance = spawn(p.substr(0, p.find(u'.')).c_str());
    putText(instance, u"Name", u"found");
    putInt(instance, u"Size", 42);
    sink->Indicate(1, &instance);
    sink->SetStatus(WBEM_STATUS_COMPLETE, WBEM_S_NO_ERROR, nullptr, nullptr);
    instance->Release();
    return WBEM_S_NO_ERROR;
  }

  STDMETHODIMP PutInstanceAsync(IWbemClassObject* instance, LONG, IWbemContext*,
                                IWbemObjectSink* sink) override {
    fakeLog().add(u"Put " + getText(instance, u"__RELPATH"));
    sink->Indicate(1, &instance);
    sink->SetStatus(WBEM_STATUS_COMPLETE, WBEM_S_NO_ERROR, nullptr, nullptr);
    return WBEM_S_NO_ERROR;
  }

  STDMETHODIMP CreateInstanceEnumAsync(const BSTR className, LONG, IWbemContext*,
                                       IWbemObjectSink* sink) override {
    fakeLog().add(u"Enum " + text(className));
    for (const char16_t* name : {u"g0", u"g1", u"g2"}) {
      IWbemClassObject* instance = spawn(className);
      putText(instance, u"Name", name);
      sink->Indicate(1, &instance);
      instance->Release();
    }
    sink->SetStatus(WBEM_STATUS_COMPLETE, WBEM_S_NO_ERROR, nullptr, nullptr);
    return WBEM_S_NO_ERROR;
  }

  STDMETHODIMP ExecMethodAsync(const BSTR path, const BSTR method, LONG, IWbemContext*,
                               IWbemClassObject* in, IWbemObjectSink* sink) override {
    fakeLog().add(u"Exec " + text(path) + u" " + text(method));
    Var by;
    in->Get(u"By", 0, &by.v, nullptr, nullptr);
    std::u16string p = text(path);
    Bstr cls(p.substr(0, p.find(u'.')).c_str());
    IWbemClassObject *def = nullptr, *outDef = nullptr, *out = nullptr;
    namespace_->GetObject(cls, 0, nullptr, &def, nullptr);
    def->GetMethod(method, 0, nullptr, &outDef);
    outDef->SpawnInstance(0, &out);
    putInt(out, u"NewSize", 10 + by.v.lVal);
    putInt(out, u"ReturnValue", 0);
    sink->Indicate(1, &out);
    sink->SetStatus(WBEM_STATUS_COMPLETE, WBEM_S_NO_ERROR, nullptr, nullptr);
    out->Release();
    outDef->Release();
    def->Release();
    return WBEM_S_NO_ERROR;
  }

  NOT_SUPPORTED(OpenNamespace(const BSTR, LONG, IWbemContext*, IWbemServices**, IWbemCallResult**))
  NOT_SUPPORTED(CancelAsyncCall(IWbemObjectSink*))
  NOT_SUPPORTED(QueryObjectSink(LONG, IWbemObjectSink**))
  NOT_SUPPORTED(GetObject(const BSTR, LONG, IWbemContext*, IWbemClassObject**, IWbemCallResult**))
  NOT_SUPPORTED(PutClass(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**))
  NOT_SUPPORTED(PutClassAsync(IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*))
  NOT_SUPPORTED(DeleteClass(const BSTR, LONG, IWbemContext*, IWbemCallResult**))
  NOT_SUPPORTED(DeleteClassAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*))
  NOT_SUPPORTED(CreateClassEnum(const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**))
  NOT_SUPPORTED(CreateClassEnumAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*))
  NOT_SUPPORTED(PutInstance(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**))
  NOT_SUPPORTED(DeleteInstance(const BSTR, LONG, IWbemContext*, IWbemCallResult**))
  NOT_SUPPORTED(DeleteInstanceAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*))
  NOT_SUPPORTED(CreateInstanceEnum(const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**))
  NOT_SUPPORTED(ExecQuery(const BSTR, const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**))
  NOT_SUPPORTED(ExecQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*, IWbemObjectSink*))
  NOT_SUPPORTED(ExecNotificationQuery(const BSTR, const BSTR, LONG, IWbemContext*,
                                      IEnumWbemClassObject**))
  NOT_SUPPORTED(ExecNotificationQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*,
                                           IWbemObjectSink*))
  NOT_SUPPORTED(ExecMethod(const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*,
                           IWbemClassObject**, IWbemCallResult**))

 private:
  IWbemClassObject* spawn(const char16_t* className) {
    Bstr cls(className);
    IWbemClassObject *def = nullptr, *instance = nullptr;
    namespace_->GetObject(cls, 0, nullptr, &def, nullptr);
    def->SpawnInstance(0, &instance);
    def->Release();
    return instance;
  }

  std::atomic<ULONG> refs_{1};
  IWbemServices* namespace_ = nullptr;
};

class Factory final : public IClassFactory {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IClassFactory) {
      *out = this;
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (outer) return CLASS_E_NOAGGREGATION;
    auto* provider = new FakeProvider();
    HRESULT hr = static_cast<IWbemProviderInit*>(provider)->QueryInterface(iid, out);
    static_cast<IWbemProviderInit*>(provider)->Release();
    return hr;
  }
  STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};

Factory g_factory;

}  // namespace

FakeProviderLog& fakeLog() {
  static FakeProviderLog log;
  return log;
}

int WINAPI fakeProviderMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  g_serverThread = GetCurrentThreadId();
  DWORD cookie = 0;
  CoRegisterClassObject(CLSID_FakeProvider, &g_factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE,
                        &cookie);
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
  CoRevokeClassObject(cookie);
  CoUninitialize();
  return 0;
}

void fireFakeEvent(const char16_t* what) {
  std::thread([what] {
    std::lock_guard<std::mutex> lock(g_eventMutex);
    if (!g_eventSink) return;
    Bstr cls(u"GadgetEvent");
    IWbemClassObject *def = nullptr, *event = nullptr;
    g_eventNamespace->GetObject(cls, 0, nullptr, &def, nullptr);
    def->SpawnInstance(0, &event);
    putText(event, u"What", what);
    g_eventSink->Indicate(1, &event);
    event->Release();
    def->Release();
  }).join();
}

}  // namespace velt::wmi::test
