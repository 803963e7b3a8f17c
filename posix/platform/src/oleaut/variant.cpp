// VARIANT life cycle: a VARIANT owns its BSTR, its interface reference and its SAFEARRAY,
// but never what a VT_BYREF value points at.
#include <oleauto.h>

#include <cstring>

#include "variant_types.h"

extern "C" {

void STDAPICALLTYPE VariantInit(VARIANTARG* variant) {
  if (variant == nullptr) return;
  std::memset(static_cast<void*>(variant), 0, sizeof *variant);
  variant->vt = VT_EMPTY;
}

HRESULT STDAPICALLTYPE VariantClear(VARIANTARG* variant) {
  if (variant == nullptr) return E_INVALIDARG;
  if (!velt::platform::oleaut::isValidVariantType(variant->vt)) return DISP_E_BADVARTYPE;
  if (!(variant->vt & VT_BYREF)) {
    if (variant->vt & VT_ARRAY) {
      const HRESULT hr = SafeArrayDestroy(variant->parray);
      if (FAILED(hr)) return hr;
    } else if (variant->vt == VT_BSTR) {
      SysFreeString(variant->bstrVal);
    } else if (variant->vt == VT_UNKNOWN || variant->vt == VT_DISPATCH) {
      // IDispatch derives from IUnknown alone, so both share the one pointer.
      if (variant->punkVal != nullptr) variant->punkVal->Release();
    }
  }
  variant->vt = VT_EMPTY;
  return S_OK;
}

HRESULT STDAPICALLTYPE VariantCopy(VARIANTARG* destination, const VARIANTARG* source) {
  if (destination == nullptr || source == nullptr) return E_INVALIDARG;
  if (!velt::platform::oleaut::isValidVariantType(source->vt)) return DISP_E_BADVARTYPE;
  if (destination == source) return S_OK;
  HRESULT hr = VariantClear(destination);
  if (FAILED(hr)) return hr;

  VARIANT copy;
  std::memcpy(static_cast<void*>(&copy), source, sizeof copy);
  if (!(source->vt & VT_BYREF)) {
    if (source->vt & VT_ARRAY) {
      hr = SafeArrayCopy(source->parray, &copy.parray);
      if (FAILED(hr)) return hr;
    } else if (source->vt == VT_BSTR && source->bstrVal != nullptr) {
      // Copied by byte length, so embedded NULs and odd byte counts survive.
      copy.bstrVal = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(source->bstrVal),
                                           SysStringByteLen(source->bstrVal));
      if (copy.bstrVal == nullptr) return E_OUTOFMEMORY;
    } else if ((source->vt == VT_UNKNOWN || source->vt == VT_DISPATCH) &&
               source->punkVal != nullptr) {
      source->punkVal->AddRef();
    }
  }
  std::memcpy(static_cast<void*>(destination), &copy, sizeof copy);
  return S_OK;
}

}  // extern "C"
