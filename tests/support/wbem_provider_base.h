// The skeleton every C++ provider server in the tests shares: a provider that answers every
// request it does not override with WBEM_E_NOT_SUPPORTED, a static class factory for it, and
// the WinMain-shaped body that registers the factory and runs the message loop until told to quit.
#pragma once

#include <atomic>

#include <objbase.h>
#include <wbemprov.h>
#include <windows.h>

namespace velt::test {

class WbemProviderBase : public IWbemProviderInit, public IWbemServices, public IWbemEventProvider {
 public:
  virtual ~WbemProviderBase() = default;

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
  ULONG STDMETHODCALLTYPE Release() override;

  STDMETHODIMP Initialize(LPWSTR, LONG, LPWSTR, LPWSTR, IWbemServices*, IWbemContext*,
                          IWbemProviderInitSink*) override;
  STDMETHODIMP ProvideEvents(IWbemObjectSink*, LONG) override;
  STDMETHODIMP OpenNamespace(const BSTR, LONG, IWbemContext*, IWbemServices**,
                             IWbemCallResult**) override;
  STDMETHODIMP CancelAsyncCall(IWbemObjectSink*) override;
  STDMETHODIMP QueryObjectSink(LONG, IWbemObjectSink**) override;
  STDMETHODIMP GetObject(const BSTR, LONG, IWbemContext*, IWbemClassObject**,
                         IWbemCallResult**) override;
  STDMETHODIMP GetObjectAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override;
  STDMETHODIMP PutClass(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**) override;
  STDMETHODIMP PutClassAsync(IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*) override;
  STDMETHODIMP DeleteClass(const BSTR, LONG, IWbemContext*, IWbemCallResult**) override;
  STDMETHODIMP DeleteClassAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override;
  STDMETHODIMP CreateClassEnum(const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**) override;
  STDMETHODIMP CreateClassEnumAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override;
  STDMETHODIMP PutInstance(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**) override;
  STDMETHODIMP PutInstanceAsync(IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*) override;
  STDMETHODIMP DeleteInstance(const BSTR, LONG, IWbemContext*, IWbemCallResult**) override;
  STDMETHODIMP DeleteInstanceAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override;
  STDMETHODIMP CreateInstanceEnum(const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**) override;
  STDMETHODIMP CreateInstanceEnumAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override;
  STDMETHODIMP ExecQuery(const BSTR, const BSTR, LONG, IWbemContext*,
                         IEnumWbemClassObject**) override;
  STDMETHODIMP ExecQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*,
                              IWbemObjectSink*) override;
  STDMETHODIMP ExecNotificationQuery(const BSTR, const BSTR, LONG, IWbemContext*,
                                     IEnumWbemClassObject**) override;
  STDMETHODIMP ExecNotificationQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*,
                                          IWbemObjectSink*) override;
  STDMETHODIMP ExecMethod(const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*,
                          IWbemClassObject**, IWbemCallResult**) override;
  STDMETHODIMP ExecMethodAsync(const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*,
                               IWbemObjectSink*) override;

 private:
  std::atomic<ULONG> m_refs{1};
};

// A factory that lives for the whole process, so its reference count is not kept.
template <class Provider>
class StaticProviderFactory final : public IClassFactory {
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
    auto* provider = static_cast<IWbemProviderInit*>(new Provider());
    HRESULT hr = provider->QueryInterface(iid, out);
    provider->Release();
    return hr;
  }
  STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};

// A new instance of the namespace's class (one reference), or null.
IWbemClassObject* spawnInstance(IWbemServices* nameSpace, const OLECHAR* className);
// Answers the test classes' method Grow(By) with NewSize = 10 + By and ReturnValue 0.
HRESULT answerGrow(IWbemServices* nameSpace, const OLECHAR* className, const BSTR method,
                   IWbemClassObject* in, IWbemObjectSink* sink);

// Registers the factory for the class, records the serving thread (the provider posts WM_QUIT
// to it) and dispatches messages until WM_QUIT arrives; 0 unless COM could not be joined.
int serveClassFactory(REFCLSID clsid, IClassFactory* factory, std::atomic<DWORD>& serverThread);

}  // namespace velt::test
