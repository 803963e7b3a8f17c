#include "request_path.h"

#include <wbemcli.h>

#include <owners/utf_text.h>

#include <new>
#include <string>

#include "objectpath/conversion.h"
#include "objectpath/object_path.h"

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
  // The parser works on UTF-8, so the class name goes back to WMI through UTF-8 as well: any
  // other code page would lose the characters it cannot represent.
  *className = velt::bstrFromUtf8(modelClass).release();
  return *className != nullptr ? S_OK : static_cast<HRESULT>(WBEM_E_OUT_OF_MEMORY);
}

HRESULT classDefinitionOfPath(IWbemServices* ns, BSTR objectPath, IWbemContext* context,
                              ComPtr<IWbemClassObject>& definition) {
  UniqueBstr className;
  HRESULT parsed = classNameOfPath(objectPath, className.put());
  if (FAILED(parsed)) return parsed;
  if (ns == nullptr) return WBEM_E_FAILED;
  HRESULT found = ns->GetObject(className.get(), 0, context, definition.put(), nullptr);
  if (FAILED(found) || !definition) return WBEM_E_FAILED;
  return S_OK;
}
