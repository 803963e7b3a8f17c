#pragma once

#include <string>

#include <owners/owned_variant.h>
#include <owners/unique_handle.h>
#include <owners/utf_text.h>

#include <wbemcli.h>

#include "wmi/service.h"

namespace velt::wmi::test {

// A MOF with every CIM type, keys, a method, inheritance and a singleton.
extern const char* const kTestMof;

std::u16string getText(IWbemClassObject* object, const char16_t* name);
IWbemClassObject* classOf(IWbemServices* ns, const char16_t* name);  // one reference
HRESULT putText(IWbemClassObject* object, const char16_t* name, const char16_t* value);
HRESULT putInt(IWbemClassObject* object, const char16_t* name, LONG value);

}  // namespace velt::wmi::test
