#pragma once

#include <string>

#include <wbemcli.h>

#include "wmi/service.h"

namespace velt::wmi::test {

// A MOF with every CIM type, keys, a method, inheritance and a singleton.
extern const char* const kTestMof;

struct Bstr {
  explicit Bstr(const char16_t* text) : value(SysAllocString(text)) {}
  ~Bstr() { SysFreeString(value); }
  operator BSTR() const { return value; }
  BSTR value;
};

struct Var {
  Var() { VariantInit(&v); }
  ~Var() { VariantClear(&v); }
  std::u16string text() const {
    return v.vt == VT_BSTR ? std::u16string(v.bstrVal) : u"<not text>";
  }
  VARIANT v;
};

std::u16string getText(IWbemClassObject* object, const char16_t* name);
IWbemClassObject* classOf(IWbemServices* ns, const char16_t* name);  // one reference
HRESULT putText(IWbemClassObject* object, const char16_t* name, const char16_t* value);
HRESULT putInt(IWbemClassObject* object, const char16_t* name, LONG value);

}  // namespace velt::wmi::test
