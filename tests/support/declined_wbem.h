// Bases for the tests' stand-ins of WMI objects: each answers WBEM_E_NOT_SUPPORTED to every
// method its stand-in leaves alone, so a stand-in spells out only what its test relies on.
#pragma once

#include <wbemcli.h>

namespace velt::test {

#define VELT_DECLINED(signature) \
  HRESULT STDMETHODCALLTYPE signature override { return WBEM_E_NOT_SUPPORTED; }

class DeclinedServices : public IWbemServices {
 public:
  VELT_DECLINED(OpenNamespace(const BSTR, LONG, IWbemContext*, IWbemServices**, IWbemCallResult**))
  VELT_DECLINED(CancelAsyncCall(IWbemObjectSink*))
  VELT_DECLINED(QueryObjectSink(LONG, IWbemObjectSink**))
  VELT_DECLINED(GetObject(const BSTR, LONG, IWbemContext*, IWbemClassObject**, IWbemCallResult**))
  VELT_DECLINED(GetObjectAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*))
  VELT_DECLINED(PutClass(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**))
  VELT_DECLINED(PutClassAsync(IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*))
  VELT_DECLINED(DeleteClass(const BSTR, LONG, IWbemContext*, IWbemCallResult**))
  VELT_DECLINED(DeleteClassAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*))
  VELT_DECLINED(CreateClassEnum(const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**))
  VELT_DECLINED(CreateClassEnumAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*))
  VELT_DECLINED(PutInstance(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**))
  VELT_DECLINED(PutInstanceAsync(IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*))
  VELT_DECLINED(DeleteInstance(const BSTR, LONG, IWbemContext*, IWbemCallResult**))
  VELT_DECLINED(DeleteInstanceAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*))
  VELT_DECLINED(CreateInstanceEnum(const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**))
  VELT_DECLINED(CreateInstanceEnumAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*))
  VELT_DECLINED(ExecQuery(const BSTR, const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**))
  VELT_DECLINED(ExecQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*, IWbemObjectSink*))
  VELT_DECLINED(ExecNotificationQuery(const BSTR, const BSTR, LONG, IWbemContext*,
                                      IEnumWbemClassObject**))
  VELT_DECLINED(ExecNotificationQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*,
                                           IWbemObjectSink*))
  VELT_DECLINED(ExecMethod(const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*,
                           IWbemClassObject**, IWbemCallResult**))
  VELT_DECLINED(ExecMethodAsync(const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*,
                                IWbemObjectSink*))
};

class DeclinedClassObject : public IWbemClassObject {
 public:
  VELT_DECLINED(GetQualifierSet(IWbemQualifierSet**))
  VELT_DECLINED(Get(LPCWSTR, LONG, VARIANT*, CIMTYPE*, LONG*))
  VELT_DECLINED(Put(LPCWSTR, LONG, VARIANT*, CIMTYPE))
  VELT_DECLINED(Delete(LPCWSTR))
  VELT_DECLINED(GetNames(LPCWSTR, LONG, VARIANT*, SAFEARRAY**))
  VELT_DECLINED(BeginEnumeration(LONG))
  VELT_DECLINED(Next(LONG, BSTR*, VARIANT*, CIMTYPE*, LONG*))
  VELT_DECLINED(EndEnumeration())
  VELT_DECLINED(GetPropertyQualifierSet(LPCWSTR, IWbemQualifierSet**))
  VELT_DECLINED(Clone(IWbemClassObject**))
  VELT_DECLINED(GetObjectText(LONG, BSTR*))
  VELT_DECLINED(SpawnDerivedClass(LONG, IWbemClassObject**))
  VELT_DECLINED(SpawnInstance(LONG, IWbemClassObject**))
  VELT_DECLINED(CompareTo(LONG, IWbemClassObject*))
  VELT_DECLINED(GetPropertyOrigin(LPCWSTR, BSTR*))
  VELT_DECLINED(InheritsFrom(LPCWSTR))
  VELT_DECLINED(GetMethod(LPCWSTR, LONG, IWbemClassObject**, IWbemClassObject**))
  VELT_DECLINED(PutMethod(LPCWSTR, LONG, IWbemClassObject*, IWbemClassObject*))
  VELT_DECLINED(DeleteMethod(LPCWSTR))
  VELT_DECLINED(BeginMethodEnumeration(LONG))
  VELT_DECLINED(NextMethod(LONG, BSTR*, IWbemClassObject**, IWbemClassObject**))
  VELT_DECLINED(EndMethodEnumeration())
  VELT_DECLINED(GetMethodQualifierSet(LPCWSTR, IWbemQualifierSet**))
  VELT_DECLINED(GetMethodOrigin(LPCWSTR, BSTR*))
};

#undef VELT_DECLINED

}  // namespace velt::test
