// The skeleton every C++ provider server in the tests shares: a provider that answers every
// request it does not override with WBEM_E_NOT_SUPPORTED, a static class factory for it, and
// the WinMain-shaped body that registers the factory and runs the message loop until told to quit.
#pragma once

#include <atomic>

#include <objbase.h>
#include <wbemprov.h>
#include <windows.h>

#include "declined_wbem.h"

namespace velt::test {

class WbemProviderBase : public IWbemProviderInit,
                         public DeclinedServices,
                         public IWbemEventProvider {
 public:
  virtual ~WbemProviderBase() = default;

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
  ULONG STDMETHODCALLTYPE Release() override;

  STDMETHODIMP Initialize(LPWSTR, LONG, LPWSTR, LPWSTR, IWbemServices*, IWbemContext*,
                          IWbemProviderInitSink*) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  STDMETHODIMP ProvideEvents(IWbemObjectSink*, LONG) override { return WBEM_E_NOT_SUPPORTED; }

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
