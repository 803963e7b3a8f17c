#include "fake_provider.h"

#include <thread>

#include "test_support.h"
#include "wbem_provider_base.h"

namespace velt::wmi::test {
namespace {

std::atomic<DWORD> g_serverThread{0};
std::mutex g_eventMutex;
IWbemObjectSink* g_eventSink = nullptr;
IWbemServices* g_eventNamespace = nullptr;

std::u16string text(const OLECHAR* s) { return s ? std::u16string(s) : u""; }

class FakeProvider final : public velt::test::WbemProviderBase {
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
    std::u16string p = text(path);
    return velt::test::answerGrow(namespace_, p.substr(0, p.find(u'.')).c_str(), method, in, sink);
  }

 private:
  IWbemClassObject* spawn(const char16_t* className) {
    return velt::test::spawnInstance(namespace_, className);
  }

  IWbemServices* namespace_ = nullptr;
};

velt::test::StaticProviderFactory<FakeProvider> g_factory;

}  // namespace

FakeProviderLog& fakeLog() {
  static FakeProviderLog log;
  return log;
}

int WINAPI fakeProviderMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  return velt::test::serveClassFactory(CLSID_FakeProvider, &g_factory, g_serverThread);
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
