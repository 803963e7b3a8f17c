// The services operations this provider does not serve: only the asynchronous get, put,
// enumerate and execute-method reach Java. Each answer is immediate and reads nothing.
#include "provider/proxy_provider.h"

HRESULT CProxyProvider::OpenNamespace(const BSTR, LONG, IWbemContext*, IWbemServices**,
                                      IWbemCallResult**) {
  return WBEM_E_NOT_SUPPORTED;
}

HRESULT CProxyProvider::CancelAsyncCall(IWbemObjectSink*) { return WBEM_E_NOT_SUPPORTED; }

HRESULT CProxyProvider::QueryObjectSink(LONG, IWbemObjectSink**) { return WBEM_E_NOT_SUPPORTED; }

HRESULT CProxyProvider::GetObject(const BSTR, LONG, IWbemContext*, IWbemClassObject**,
                                  IWbemCallResult**) {
  return WBEM_E_NOT_SUPPORTED;
}

HRESULT CProxyProvider::PutClass(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**) {
  return WBEM_E_NOT_SUPPORTED;
}

HRESULT CProxyProvider::PutClassAsync(IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*) {
  return WBEM_E_NOT_SUPPORTED;
}

HRESULT CProxyProvider::DeleteClass(const BSTR, LONG, IWbemContext*, IWbemCallResult**) {
  return WBEM_E_NOT_SUPPORTED;
}

HRESULT CProxyProvider::DeleteClassAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) {
  return WBEM_E_NOT_SUPPORTED;
}

HRESULT CProxyProvider::CreateClassEnum(const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**) {
  return WBEM_E_NOT_SUPPORTED;
}

HRESULT CProxyProvider::CreateClassEnumAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) {
  return WBEM_E_NOT_SUPPORTED;
}

HRESULT CProxyProvider::PutInstance(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**) {
  return WBEM_E_NOT_SUPPORTED;
}

HRESULT CProxyProvider::DeleteInstance(const BSTR, LONG, IWbemContext*, IWbemCallResult**) {
  return WBEM_E_NOT_SUPPORTED;
}

HRESULT CProxyProvider::DeleteInstanceAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) {
  return WBEM_E_NOT_SUPPORTED;
}

HRESULT CProxyProvider::CreateInstanceEnum(const BSTR, LONG, IWbemContext*,
                                           IEnumWbemClassObject**) {
  return WBEM_E_NOT_SUPPORTED;
}

HRESULT CProxyProvider::ExecQuery(const BSTR, const BSTR, LONG, IWbemContext*,
                                  IEnumWbemClassObject**) {
  return WBEM_E_NOT_SUPPORTED;
}

HRESULT CProxyProvider::ExecQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*,
                                       IWbemObjectSink*) {
  return WBEM_E_NOT_SUPPORTED;
}

HRESULT CProxyProvider::ExecNotificationQuery(const BSTR, const BSTR, LONG, IWbemContext*,
                                              IEnumWbemClassObject**) {
  return WBEM_E_NOT_SUPPORTED;
}

HRESULT CProxyProvider::ExecNotificationQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*,
                                                   IWbemObjectSink*) {
  return WBEM_E_NOT_SUPPORTED;
}

HRESULT CProxyProvider::ExecMethod(const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*,
                                   IWbemClassObject**, IWbemCallResult**) {
  return WBEM_E_NOT_SUPPORTED;
}
