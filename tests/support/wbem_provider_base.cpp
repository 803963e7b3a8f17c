#include "wbem_provider_base.h"

#include <owners/com_ptr.h>
#include <owners/owned_variant.h>
#include <owners/unique_handle.h>

namespace velt::test {

STDMETHODIMP WbemProviderBase::QueryInterface(REFIID iid, void** out) {
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

ULONG STDMETHODCALLTYPE WbemProviderBase::Release() {
  ULONG left = --m_refs;
  if (!left) delete this;
  return left;
}

IWbemClassObject* spawnInstance(IWbemServices* nameSpace, const OLECHAR* className) {
  velt::ComPtr<IWbemClassObject> definition;
  IWbemClassObject* instance = nullptr;
  nameSpace->GetObject(velt::UniqueBstr(SysAllocString(className)).get(), 0, nullptr,
                       definition.put(), nullptr);
  if (definition) definition->SpawnInstance(0, &instance);
  return instance;
}

namespace {
void putNumber(IWbemClassObject* object, const OLECHAR* name, LONG number) {
  velt::OwnedVariant value;
  value.get()->vt = VT_I4;
  value.get()->lVal = number;
  object->Put(name, 0, value.get(), 0);
}
}  // namespace

HRESULT answerGrow(IWbemServices* nameSpace, const OLECHAR* className, const BSTR method,
                   IWbemClassObject* in, IWbemObjectSink* sink) {
  velt::OwnedVariant by;
  in->Get(OLESTR("By"), 0, by.get(), nullptr, nullptr);
  velt::ComPtr<IWbemClassObject> definition, outDefinition, out;
  nameSpace->GetObject(velt::UniqueBstr(SysAllocString(className)).get(), 0, nullptr,
                       definition.put(), nullptr);
  definition->GetMethod(method, 0, nullptr, outDefinition.put());
  outDefinition->SpawnInstance(0, out.put());
  putNumber(out.get(), OLESTR("NewSize"), 10 + (by.vt() == VT_I4 ? by.value().lVal : 0));
  putNumber(out.get(), OLESTR("ReturnValue"), 0);
  IWbemClassObject* result = out.get();
  sink->Indicate(1, &result);
  sink->SetStatus(WBEM_STATUS_COMPLETE, WBEM_S_NO_ERROR, nullptr, nullptr);
  return WBEM_S_NO_ERROR;
}

int serveClassFactory(REFCLSID clsid, IClassFactory* factory, std::atomic<DWORD>& serverThread) {
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
  serverThread = GetCurrentThreadId();
  DWORD cookie = 0;
  CoRegisterClassObject(clsid, factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie);
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
  CoRevokeClassObject(cookie);
  CoUninitialize();
  return 0;
}

}  // namespace velt::test
