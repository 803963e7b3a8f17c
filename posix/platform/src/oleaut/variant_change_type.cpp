// VariantChangeType: a value keeps its type by copy, any scalar becomes text and numbers
// become one another; other conversions are not offered by this layer and answer
// DISP_E_TYPEMISMATCH.
#include <oleauto.h>

#include <cstring>

#include "variant_numeric.h"
#include "variant_text.h"
#include "variant_types.h"

namespace {

// The value a VT_BYREF variant refers to, as a plain variant that borrows (never owns) it.
HRESULT dereference(const VARIANT& source, VARIANT& value) {
  VariantInit(&value);
  if (!(source.vt & VT_BYREF)) {
    std::memcpy(static_cast<void*>(&value), &source, sizeof value);
    return S_OK;
  }
  if (source.byref == nullptr) return E_INVALIDARG;
  const VARTYPE base = source.vt & ~VT_BYREF;
  if (base == VT_VARIANT) {
    const VARIANT& inner = *source.pvarVal;
    if (inner.vt & VT_BYREF) return DISP_E_BADVARTYPE;
    std::memcpy(static_cast<void*>(&value), &inner, sizeof value);
    return S_OK;
  }
  value.vt = base;
  if (base & VT_ARRAY) {
    value.parray = *source.pparray;
  } else if (base == VT_DECIMAL) {
    value.decVal = *source.pdecVal;
    value.vt = base;
  } else {
    ULONG size = velt::platform::oleaut::arrayElementSize(base);
    if (size == 0 || size > sizeof value.llVal) return DISP_E_BADVARTYPE;
    std::memcpy(&value.llVal, source.byref, size);
  }
  return S_OK;
}

HRESULT toText(const VARIANT& value, USHORT flags, VARIANT& result) {
  if (value.vt == VT_BSTR) return VariantCopy(&result, &value);
  if (value.vt & VT_ARRAY) return DISP_E_TYPEMISMATCH;
  char text[velt::platform::oleaut::kScalarTextCapacity];
  size_t length = 0;
  const HRESULT hr = velt::platform::oleaut::scalarToText(value, flags, text, length);
  if (FAILED(hr)) return hr;
  BSTR bstr = SysAllocStringLen(nullptr, static_cast<UINT>(length));
  if (bstr == nullptr) return E_OUTOFMEMORY;
  for (size_t i = 0; i < length; ++i) bstr[i] = static_cast<unsigned char>(text[i]);
  result.vt = VT_BSTR;
  result.bstrVal = bstr;
  return S_OK;
}

}  // namespace

extern "C" HRESULT STDAPICALLTYPE VariantChangeType(VARIANTARG* destination,
                                                    const VARIANTARG* source, USHORT flags,
                                                    VARTYPE type) {
  if (destination == nullptr || source == nullptr) return E_INVALIDARG;
  if (!velt::platform::oleaut::isValidVariantType(source->vt)) return DISP_E_BADVARTYPE;
  if (!velt::platform::oleaut::isValidVariantType(type)) return DISP_E_BADVARTYPE;
  // A reference is a valid type of variant, but no value can be coerced into one.
  if (type & VT_BYREF) return DISP_E_TYPEMISMATCH;

  VARIANT value;
  HRESULT hr = dereference(*source, value);
  if (FAILED(hr)) return hr;

  // The result is built aside: the destination may be the source itself, and it must keep
  // its old value when the change fails.
  VARIANT result;
  VariantInit(&result);
  if (value.vt == type) {
    hr = VariantCopy(&result, &value);
  } else if (type == VT_BSTR) {
    hr = toText(value, flags, result);
  } else if (velt::platform::oleaut::isNumericType(type) &&
             (value.vt == VT_EMPTY || velt::platform::oleaut::isNumericType(value.vt))) {
    hr = velt::platform::oleaut::changeNumericType(value, type, result);
  } else {
    hr = DISP_E_TYPEMISMATCH;
  }
  if (FAILED(hr)) return hr;

  hr = VariantClear(destination);
  if (FAILED(hr)) {
    VariantClear(&result);
    return hr;
  }
  std::memcpy(static_cast<void*>(destination), &result, sizeof result);
  return S_OK;
}
