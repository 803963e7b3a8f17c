#include "wmi_model/variant_value.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace velt::wmi::detail {
namespace {

struct Scalar {
  enum Kind { kSigned, kUnsigned, kReal, kBool, kText, kObject } kind = kSigned;
  int64_t s = 0;
  uint64_t u = 0;
  double d = 0;
  bool b = false;
  std::u16string text;
  IUnknown* object = nullptr;
};

HRESULT readScalar(const VARIANT& v, Scalar& out) {
  switch (v.vt) {
    case VT_I1:
      out.kind = Scalar::kSigned;
      out.s = v.cVal;
      return S_OK;
    case VT_I2:
      out.kind = Scalar::kSigned;
      out.s = v.iVal;
      return S_OK;
    case VT_I4:
      out.kind = Scalar::kSigned;
      out.s = v.lVal;
      return S_OK;
    case VT_INT:
      out.kind = Scalar::kSigned;
      out.s = v.intVal;
      return S_OK;
    case VT_I8:
      out.kind = Scalar::kSigned;
      out.s = v.llVal;
      return S_OK;
    case VT_UI1:
      out.kind = Scalar::kUnsigned;
      out.u = v.bVal;
      return S_OK;
    case VT_UI2:
      out.kind = Scalar::kUnsigned;
      out.u = v.uiVal;
      return S_OK;
    case VT_UI4:
      out.kind = Scalar::kUnsigned;
      out.u = v.ulVal;
      return S_OK;
    case VT_UINT:
      out.kind = Scalar::kUnsigned;
      out.u = v.uintVal;
      return S_OK;
    case VT_UI8:
      out.kind = Scalar::kUnsigned;
      out.u = v.ullVal;
      return S_OK;
    case VT_R4:
      out.kind = Scalar::kReal;
      out.d = v.fltVal;
      return S_OK;
    case VT_R8:
      out.kind = Scalar::kReal;
      out.d = v.dblVal;
      return S_OK;
    case VT_BOOL:
      out.kind = Scalar::kBool;
      out.b = v.boolVal != VARIANT_FALSE;
      return S_OK;
    case VT_BSTR:
      out.kind = Scalar::kText;
      out.text = v.bstrVal ? std::u16string(v.bstrVal, SysStringLen(v.bstrVal)) : u"";
      return S_OK;
    case VT_UNKNOWN:
    case VT_DISPATCH:
      out.kind = Scalar::kObject;
      out.object = v.punkVal;
      return S_OK;
    default:
      return WBEM_E_TYPE_MISMATCH;
  }
}

// Decimal text, with an optional sign, as a property write of a 64-bit value carries it.
bool parseInteger(const std::u16string& text, Scalar& out) {
  if (text.empty()) return false;
  std::size_t i = 0;
  bool negative = false;
  if (text[0] == u'-' || text[0] == u'+') {
    negative = text[0] == u'-';
    i = 1;
  }
  if (i == text.size()) return false;
  uint64_t value = 0;
  for (; i < text.size(); ++i) {
    char16_t c = text[i];
    if (c < u'0' || c > u'9') return false;
    unsigned digit = c - u'0';
    if (value > (std::numeric_limits<uint64_t>::max() - digit) / 10) return false;
    value = value * 10 + digit;
  }
  if (negative) {
    if (value > uint64_t(std::numeric_limits<int64_t>::max()) + 1) return false;
    out.kind = Scalar::kSigned;
    out.s = value == 0 ? 0 : int64_t(~(value - 1));
  } else {
    out.kind = Scalar::kUnsigned;
    out.u = value;
  }
  return true;
}

// Whether the integer lies within [low, high]; the bounds are given as signed and unsigned.
bool inRange(const Scalar& v, int64_t low, uint64_t high) {
  if (v.kind == Scalar::kSigned) {
    return v.s >= low && (v.s < 0 || uint64_t(v.s) <= high);
  }
  return v.u <= high;
}

HRESULT toInteger(Scalar v, int64_t low, uint64_t high, Scalar& out) {
  if (v.kind == Scalar::kText && !parseInteger(v.text, v)) return WBEM_E_TYPE_MISMATCH;
  if (v.kind != Scalar::kSigned && v.kind != Scalar::kUnsigned) return WBEM_E_TYPE_MISMATCH;
  if (!inRange(v, low, high)) return WBEM_E_TYPE_MISMATCH;
  out = v;
  return S_OK;
}

int64_t asSigned(const Scalar& v) { return v.kind == Scalar::kSigned ? v.s : int64_t(v.u); }

std::u16string decimal(const Scalar& v) {
  std::string digits = v.kind == Scalar::kSigned ? std::to_string(v.s) : std::to_string(v.u);
  return utf16FromUtf8(digits);
}

HRESULT makeScalar(const Scalar& in, CIMTYPE type, Variant& result) {
  VARIANT& out = *result.get();
  Scalar n;
  HRESULT hr = S_OK;
  switch (type) {
    case CIM_SINT8:
      if (FAILED(hr = toInteger(in, INT8_MIN, INT8_MAX, n))) return hr;
      out.vt = VT_I2, out.iVal = SHORT(asSigned(n));
      return S_OK;
    case CIM_UINT8:
      if (FAILED(hr = toInteger(in, 0, UINT8_MAX, n))) return hr;
      out.vt = VT_UI1, out.bVal = BYTE(asSigned(n));
      return S_OK;
    case CIM_SINT16:
      if (FAILED(hr = toInteger(in, INT16_MIN, INT16_MAX, n))) return hr;
      out.vt = VT_I2, out.iVal = SHORT(asSigned(n));
      return S_OK;
    case CIM_UINT16:
      if (FAILED(hr = toInteger(in, 0, UINT16_MAX, n))) return hr;
      out.vt = VT_I4, out.lVal = LONG(asSigned(n));
      return S_OK;
    case CIM_CHAR16:
      // A VT_I2 carries it, so a negative 16-bit value is its bit pattern.
      if (FAILED(hr = toInteger(in, INT16_MIN, UINT16_MAX, n))) return hr;
      out.vt = VT_I2, out.iVal = SHORT(uint16_t(asSigned(n)));
      return S_OK;
    case CIM_SINT32:
      if (FAILED(hr = toInteger(in, INT32_MIN, INT32_MAX, n))) return hr;
      out.vt = VT_I4, out.lVal = LONG(asSigned(n));
      return S_OK;
    case CIM_UINT32:
      // WMI carries uint32 in a VT_I4: negative VT_I4 values are accepted as bit patterns.
      if (FAILED(hr = toInteger(in, INT32_MIN, UINT32_MAX, n))) return hr;
      out.vt = VT_I4, out.lVal = LONG(uint32_t(asSigned(n)));
      return S_OK;
    case CIM_SINT64:
      if (FAILED(hr = toInteger(in, INT64_MIN, INT64_MAX, n))) return hr;
      result = Variant::text(decimal(n));
      return S_OK;
    case CIM_UINT64:
      if (FAILED(hr = toInteger(in, 0, UINT64_MAX, n))) return hr;
      result = Variant::text(decimal(n));
      return S_OK;
    case CIM_REAL32:
    case CIM_REAL64: {
      double d = 0;
      if (in.kind == Scalar::kReal) {
        d = in.d;
      } else if (in.kind == Scalar::kSigned) {
        d = double(in.s);
      } else if (in.kind == Scalar::kUnsigned) {
        d = double(in.u);
      } else if (in.kind == Scalar::kText) {
        std::string s = utf8FromUtf16(in.text);
        char* end = nullptr;
        d = std::strtod(s.c_str(), &end);
        if (s.empty() || *end != '\0') return WBEM_E_TYPE_MISMATCH;
      } else {
        return WBEM_E_TYPE_MISMATCH;
      }
      if (type == CIM_REAL32) {
        if (std::isfinite(d) && std::fabs(d) > std::numeric_limits<float>::max()) {
          return WBEM_E_TYPE_MISMATCH;
        }
        out.vt = VT_R4, out.fltVal = float(d);
      } else {
        out.vt = VT_R8, out.dblVal = d;
      }
      return S_OK;
    }
    case CIM_BOOLEAN:
      if (in.kind == Scalar::kBool) {
        out.vt = VT_BOOL, out.boolVal = in.b ? VARIANT_TRUE : VARIANT_FALSE;
      } else if (in.kind == Scalar::kSigned || in.kind == Scalar::kUnsigned) {
        bool on = in.kind == Scalar::kSigned ? in.s != 0 : in.u != 0;
        out.vt = VT_BOOL, out.boolVal = on ? VARIANT_TRUE : VARIANT_FALSE;
      } else {
        return WBEM_E_TYPE_MISMATCH;
      }
      return S_OK;
    case CIM_STRING:
    case CIM_DATETIME:
    case CIM_REFERENCE:
      if (in.kind != Scalar::kText) return WBEM_E_TYPE_MISMATCH;
      result = Variant::text(in.text);
      return S_OK;
    case CIM_OBJECT: {
      if (in.kind != Scalar::kObject || !in.object) return WBEM_E_TYPE_MISMATCH;
      IWbemClassObject* object = nullptr;
      if (FAILED(
              in.object->QueryInterface(IID_IWbemClassObject, reinterpret_cast<void**>(&object)))) {
        return WBEM_E_TYPE_MISMATCH;
      }
      out.vt = VT_UNKNOWN, out.punkVal = object;
      return S_OK;
    }
    default:
      return WBEM_E_INVALID_PROPERTY_TYPE;
  }
}

}  // namespace

Variant Variant::text(const std::u16string& s) {
  Variant v;
  v.get()->bstrVal = SysAllocStringLen(s.data(), UINT(s.size()));
  if (!v.get()->bstrVal) throw std::bad_alloc();
  v.get()->vt = VT_BSTR;
  return v;
}

Variant Variant::int32(LONG value) {
  Variant v;
  v.get()->vt = VT_I4;
  v.get()->lVal = value;
  return v;
}

Variant Variant::boolean(bool value) {
  Variant v;
  v.get()->vt = VT_BOOL;
  v.get()->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  return v;
}

std::u16string Variant::asText() const {
  if (get()->vt != VT_BSTR || !get()->bstrVal) return {};
  return std::u16string(get()->bstrVal, SysStringLen(get()->bstrVal));
}

VARTYPE variantTypeOf(CIMTYPE type) {
  VARTYPE array = (type & CIM_FLAG_ARRAY) ? VARTYPE(VT_ARRAY) : VARTYPE(0);
  switch (type & ~CIM_FLAG_ARRAY) {
    case CIM_SINT8:
    case CIM_SINT16:
    case CIM_CHAR16:
      return array | VT_I2;
    case CIM_UINT8:
      return array | VT_UI1;
    case CIM_UINT16:
    case CIM_SINT32:
    case CIM_UINT32:
      return array | VT_I4;
    case CIM_REAL32:
      return array | VT_R4;
    case CIM_REAL64:
      return array | VT_R8;
    case CIM_BOOLEAN:
      return array | VT_BOOL;
    case CIM_OBJECT:
      return array | VT_UNKNOWN;
    default:
      return array | VT_BSTR;  // strings, datetimes, references and 64-bit integers
  }
}

CIMTYPE cimTypeOfVariant(VARTYPE vt) {
  CIMTYPE array = (vt & VT_ARRAY) ? CIMTYPE(CIM_FLAG_ARRAY) : CIMTYPE(0);
  switch (vt & ~VT_ARRAY) {
    case VT_I1:
      return array | CIM_SINT8;
    case VT_UI1:
      return array | CIM_UINT8;
    case VT_I2:
      return array | CIM_SINT16;
    case VT_UI2:
      return array | CIM_UINT16;
    case VT_I4:
    case VT_INT:
      return array | CIM_SINT32;
    case VT_UI4:
    case VT_UINT:
      return array | CIM_UINT32;
    case VT_I8:
      return array | CIM_SINT64;
    case VT_UI8:
      return array | CIM_UINT64;
    case VT_R4:
      return array | CIM_REAL32;
    case VT_R8:
      return array | CIM_REAL64;
    case VT_BOOL:
      return array | CIM_BOOLEAN;
    case VT_BSTR:
      return array | CIM_STRING;
    case VT_UNKNOWN:
      return array | CIM_OBJECT;
    default:
      return CIM_ILLEGAL;
  }
}

HRESULT readElements(const VARIANT& array, std::vector<Variant>& out) {
  if (!(array.vt & VT_ARRAY) || !array.parray) return WBEM_E_TYPE_MISMATCH;
  SAFEARRAY* sa = array.parray;
  if (SafeArrayGetDim(sa) != 1) return WBEM_E_TYPE_MISMATCH;
  VARTYPE vt = VT_EMPTY;
  if (FAILED(SafeArrayGetVartype(sa, &vt))) vt = VARTYPE(array.vt & ~VT_ARRAY);
  LONG low = 0, high = -1;
  SafeArrayGetLBound(sa, 1, &low);
  SafeArrayGetUBound(sa, 1, &high);
  out.clear();
  for (LONG i = low; i <= high; ++i) {
    Variant element;
    VARIANT* v = element.get();
    // Every scalar member of the VARIANT union starts at the same address.
    void* slot = vt == VT_VARIANT ? static_cast<void*>(v) : static_cast<void*>(&v->llVal);
    HRESULT hr = SafeArrayGetElement(sa, &i, slot);
    if (FAILED(hr)) return WBEM_E_TYPE_MISMATCH;
    if (vt != VT_VARIANT) v->vt = vt;
    out.push_back(std::move(element));
  }
  return S_OK;
}

HRESULT coerceElements(const std::vector<Variant>& elements, CIMTYPE arrayType, Variant& out) {
  CIMTYPE base = arrayType & ~CIM_FLAG_ARRAY;
  VARTYPE vt = VARTYPE(variantTypeOf(base));
  std::vector<Variant> converted;
  for (const Variant& e : elements) {
    Variant c;
    if (e.isNull()) return WBEM_E_TYPE_MISMATCH;  // arrays hold no null elements
    HRESULT hr = coerceToCimType(*e.get(), base, c);
    if (FAILED(hr)) return hr;
    converted.push_back(std::move(c));
  }
  UniqueSafeArray sa(SafeArrayCreateVector(vt, 0, ULONG(converted.size())));
  if (!sa) return WBEM_E_OUT_OF_MEMORY;
  for (LONG i = 0; i < LONG(converted.size()); ++i) {
    VARIANT* c = converted[i].get();
    void* value = vt == VT_BSTR      ? static_cast<void*>(c->bstrVal)
                  : vt == VT_UNKNOWN ? static_cast<void*>(c->punkVal)
                                     : static_cast<void*>(&c->llVal);
    if (FAILED(SafeArrayPutElement(sa.get(), &i, value))) return WBEM_E_OUT_OF_MEMORY;
  }
  Variant result;
  result.get()->vt = VARTYPE(VT_ARRAY | vt);
  result.get()->parray = sa.release();
  out = std::move(result);
  return S_OK;
}

HRESULT coerceToCimType(const VARIANT& in, CIMTYPE type, Variant& out) {
  if (in.vt == VT_NULL || in.vt == VT_EMPTY) {
    out = Variant::null();
    return S_OK;
  }
  if (type & CIM_FLAG_ARRAY) {
    std::vector<Variant> elements;
    HRESULT hr = readElements(in, elements);
    if (FAILED(hr)) return hr;
    return coerceElements(elements, type, out);
  }
  if (in.vt & VT_ARRAY) return WBEM_E_TYPE_MISMATCH;
  Scalar scalar;
  HRESULT hr = readScalar(in, scalar);
  if (FAILED(hr)) return hr;
  Variant result;
  hr = makeScalar(scalar, type, result);
  if (FAILED(hr)) return hr;
  out = std::move(result);
  return S_OK;
}

SAFEARRAY* makeStringArray(const std::vector<std::u16string>& items) {
  UniqueSafeArray sa(SafeArrayCreateVector(VT_BSTR, 0, ULONG(items.size())));
  if (!sa) return nullptr;
  for (LONG i = 0; i < LONG(items.size()); ++i) {
    Variant text = Variant::text(items[i]);
    if (FAILED(SafeArrayPutElement(sa.get(), &i, text.get()->bstrVal))) return nullptr;
  }
  return sa.release();
}

std::u16string toLower(std::u16string s) {
  for (char16_t& c : s) {
    if (c >= u'A' && c <= u'Z') c = char16_t(c - u'A' + u'a');
  }
  return s;
}

bool equalsIgnoreCase(const std::u16string& a, const std::u16string& b) {
  return a.size() == b.size() && toLower(a) == toLower(b);
}

}  // namespace velt::wmi::detail
