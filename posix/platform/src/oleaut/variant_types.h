// Which VARTYPEs a VARIANT or a SAFEARRAY may hold, shared by the VARIANT and SAFEARRAY code.
#pragma once

#include <oleauto.h>

namespace velt::platform::oleaut {

// A plain VARIANT value type (neither array nor reference).
inline bool isPlainVariantType(VARTYPE vt) {
  switch (vt) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_I2:
    case VT_I4:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_ERROR:
    case VT_BOOL:
    case VT_UNKNOWN:
    case VT_DECIMAL:
    case VT_I1:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
    case VT_INT:
    case VT_UINT:
      return true;
    default:
      return false;
  }
}

// Bytes one element of that type takes in a SAFEARRAY; 0 when arrays of it are not supported.
inline ULONG arrayElementSize(VARTYPE vt) {
  switch (vt) {
    case VT_I1:
    case VT_UI1:
      return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      return 2;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_ERROR:
      return 4;
    case VT_I8:
    case VT_UI8:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
      return 8;
    case VT_BSTR:
    case VT_UNKNOWN:
    case VT_DISPATCH:
      return sizeof(void*);
    case VT_VARIANT:
      return sizeof(VARIANT);
    case VT_DECIMAL:
      return sizeof(DECIMAL);
    default:
      return 0;
  }
}

// A type tag a VARIANT may carry: a plain value, an array of a supported element type, or a
// reference to either (a reference to a VARIANT included).
inline bool isValidVariantType(VARTYPE vt) {
  if (vt & ~(VT_TYPEMASK | VT_ARRAY | VT_BYREF)) return false;
  const VARTYPE base = vt & VT_TYPEMASK;
  if (vt & VT_ARRAY) return arrayElementSize(base) != 0;
  if (vt & VT_BYREF) return base == VT_VARIANT || (isPlainVariantType(base) && base > VT_NULL);
  return isPlainVariantType(base);
}

}  // namespace velt::platform::oleaut
