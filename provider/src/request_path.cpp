#include "request_path.h"

#include <wbemcli.h>

#include <new>
#include <string>

#include "objectpath/conversion.h"
#include "objectpath/object_path.h"

namespace {

// The parser works on UTF-8, so the class name goes back to WMI through UTF-8 as well: any
// other code page would lose the characters it cannot represent.
BSTR bstrFromUtf8(const std::string& text) {
  if (text.empty()) return SysAllocString(OLESTR(""));
  int units =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (units <= 0) return nullptr;
  BSTR result = SysAllocStringLen(nullptr, static_cast<UINT>(units));
  if (result == nullptr) return nullptr;
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result, units);
  return result;
}

}  // namespace

HRESULT classNameOfPath(BSTR objectPath, BSTR* className) {
  *className = nullptr;
  std::string modelClass;
  try {
    std::string narrowPath = toUtf8(wideFromBstr(objectPath));
    ObjectPath parsed;
    parsed = WbemObjectPath(narrowPath);
    modelClass = parsed.modelClass();
  } catch (const std::bad_alloc&) {
    return WBEM_E_OUT_OF_MEMORY;
  } catch (...) {
    return WBEM_E_INVALID_OBJECT_PATH;
  }
  *className = bstrFromUtf8(modelClass);
  return *className != nullptr ? S_OK : static_cast<HRESULT>(WBEM_E_OUT_OF_MEMORY);
}

HRESULT classDefinitionOfPath(IWbemServices* ns, BSTR objectPath, IWbemContext* context,
                              ComRef<IWbemClassObject>& definition) {
  OwnedBstr className;
  HRESULT parsed = classNameOfPath(objectPath, className.put());
  if (FAILED(parsed)) return parsed;
  if (ns == nullptr) return WBEM_E_FAILED;
  HRESULT found = ns->GetObject(className.get(), 0, context, definition.put(), nullptr);
  if (FAILED(found) || !definition) return WBEM_E_FAILED;
  return S_OK;
}
