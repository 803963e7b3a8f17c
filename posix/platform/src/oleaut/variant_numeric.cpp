#include "variant_numeric.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <utility>

namespace velt::platform::oleaut {
namespace {

constexpr long long kCurrencyScale = 10000;
// Midnight starting 1 January 100 is day -657434; a negative day's fraction counts forward,
// so values down to (not including) -657435 still fall on that day. 2958466 is 1 January
// 10000.
constexpr double kDateBelowFirst = -657435.0;
constexpr double kDateAfterLast = 2958466.0;

// A source value in the widest form that holds it exactly.
struct Number {
  enum class Kind { Signed, Unsigned, Real, Currency } kind;
  long long whole = 0;             // Signed, and Currency in ten-thousandths
  unsigned long long natural = 0;  // Unsigned
  double real = 0;                 // Real
};

Number readNumber(const VARIANT& v) {
  using Kind = Number::Kind;
  switch (v.vt) {
    case VT_I1:
      return {Kind::Signed, static_cast<signed char>(v.cVal)};
    case VT_UI1:
      return {Kind::Signed, v.bVal};
    case VT_I2:
      return {Kind::Signed, v.iVal};
    case VT_BOOL:  // a boolean counts as the VT_I2 it is stored as: true is -1
      return {Kind::Signed, v.boolVal};
    case VT_UI2:
      return {Kind::Signed, v.uiVal};
    case VT_I4:
      return {Kind::Signed, v.lVal};
    case VT_INT:
      return {Kind::Signed, v.intVal};
    case VT_UI4:
      return {Kind::Signed, v.ulVal};
    case VT_UINT:
      return {Kind::Signed, v.uintVal};
    case VT_I8:
      return {Kind::Signed, v.llVal};
    case VT_UI8:
      return {Kind::Unsigned, 0, v.ullVal};
    case VT_R4:
      return {Kind::Real, 0, 0, v.fltVal};
    case VT_R8:
      return {Kind::Real, 0, 0, v.dblVal};
    case VT_DATE:
      return {Kind::Real, 0, 0, v.date};
    case VT_CY:
      return {Kind::Currency, v.cyVal.int64};
    default:  // VT_EMPTY
      return {Kind::Signed, 0};
  }
}

double roundHalfToEven(double x) {
  const double nearest = std::round(x);  // halves away from zero
  if (std::fabs(x - std::trunc(x)) != 0.5) return nearest;
  return 2.0 * std::round(x / 2.0);
}

// Whole units of a currency value, halves going to the even unit.
long long roundCurrency(long long scaled) {
  long long units = scaled / kCurrencyScale;
  const long long rest = scaled % kCurrencyScale;  // carries the sign of scaled
  const long long twice = 2 * (rest < 0 ? -rest : rest);
  if (twice > kCurrencyScale || (twice == kCurrencyScale && units % 2 != 0)) {
    units += rest < 0 ? -1 : 1;
  }
  return units;
}

template <typename T>
HRESULT toInteger(const Number& n, T& out) {
  using Kind = Number::Kind;
  switch (n.kind) {
    case Kind::Signed:
      if (!std::in_range<T>(n.whole)) return DISP_E_OVERFLOW;
      out = static_cast<T>(n.whole);
      return S_OK;
    case Kind::Unsigned:
      if (!std::in_range<T>(n.natural)) return DISP_E_OVERFLOW;
      out = static_cast<T>(n.natural);
      return S_OK;
    case Kind::Currency: {
      const long long units = roundCurrency(n.whole);
      if (!std::in_range<T>(units)) return DISP_E_OVERFLOW;
      out = static_cast<T>(units);
      return S_OK;
    }
    case Kind::Real: {
      // Bounds as powers of two are exact in a double, unlike the largest 64-bit values.
      const double rounded = roundHalfToEven(n.real);
      const double limit = std::ldexp(1.0, std::numeric_limits<T>::digits);
      const double lowest = std::numeric_limits<T>::is_signed ? -limit : 0.0;
      if (!(rounded >= lowest && rounded < limit)) return DISP_E_OVERFLOW;  // NaN included
      out = static_cast<T>(rounded);
      return S_OK;
    }
  }
  return DISP_E_TYPEMISMATCH;
}

double toDouble(const Number& n) {
  using Kind = Number::Kind;
  switch (n.kind) {
    case Kind::Signed:
      return static_cast<double>(n.whole);
    case Kind::Unsigned:
      return static_cast<double>(n.natural);
    case Kind::Currency:
      return static_cast<double>(n.whole) / kCurrencyScale;
    case Kind::Real:
      break;
  }
  return n.real;
}

HRESULT toCurrency(const Number& n, LONGLONG& out) {
  using Kind = Number::Kind;
  constexpr long long kMost = std::numeric_limits<long long>::max() / kCurrencyScale;
  switch (n.kind) {
    case Kind::Signed:
      if (n.whole > kMost || n.whole < -kMost) return DISP_E_OVERFLOW;
      out = n.whole * kCurrencyScale;
      return S_OK;
    case Kind::Unsigned:
      if (n.natural > static_cast<unsigned long long>(kMost)) return DISP_E_OVERFLOW;
      out = static_cast<long long>(n.natural) * kCurrencyScale;
      return S_OK;
    case Kind::Currency:
      out = n.whole;
      return S_OK;
    case Kind::Real: {
      const double scaled = roundHalfToEven(n.real * kCurrencyScale);
      const double limit = std::ldexp(1.0, 63);
      if (!(scaled >= -limit && scaled < limit)) return DISP_E_OVERFLOW;
      out = static_cast<long long>(scaled);
      return S_OK;
    }
  }
  return DISP_E_TYPEMISMATCH;
}

bool isZero(const Number& n) {
  using Kind = Number::Kind;
  switch (n.kind) {
    case Kind::Signed:
    case Kind::Currency:
      return n.whole == 0;
    case Kind::Unsigned:
      return n.natural == 0;
    case Kind::Real:
      break;
  }
  return n.real == 0;
}

HRESULT convert(const Number& n, VARTYPE type, VARIANT& out) {
  switch (type) {
    case VT_I1: {
      signed char c = 0;
      const HRESULT hr = toInteger(n, c);
      out.cVal = static_cast<CHAR>(c);
      return hr;
    }
    case VT_UI1:
      return toInteger(n, out.bVal);
    case VT_I2:
      return toInteger(n, out.iVal);
    case VT_UI2:
      return toInteger(n, out.uiVal);
    case VT_I4:
      return toInteger(n, out.lVal);
    case VT_UI4:
      return toInteger(n, out.ulVal);
    case VT_INT:
      return toInteger(n, out.intVal);
    case VT_UINT:
      return toInteger(n, out.uintVal);
    case VT_I8:
      return toInteger(n, out.llVal);
    case VT_UI8:
      return toInteger(n, out.ullVal);
    case VT_CY:
      return toCurrency(n, out.cyVal.int64);
    case VT_BOOL:
      out.boolVal = isZero(n) ? VARIANT_FALSE : VARIANT_TRUE;
      return S_OK;
    case VT_R4: {
      const double value = toDouble(n);
      if (std::fabs(value) > FLT_MAX) return DISP_E_OVERFLOW;
      out.fltVal = static_cast<float>(value);
      return S_OK;
    }
    case VT_R8:
      out.dblVal = toDouble(n);
      return S_OK;
    case VT_DATE: {
      const double value = toDouble(n);
      if (!(value > kDateBelowFirst && value < kDateAfterLast)) return DISP_E_OVERFLOW;
      out.date = value;
      return S_OK;
    }
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

}  // namespace

bool isNumericType(VARTYPE vt) {
  switch (vt) {
    case VT_I1:
    case VT_UI1:
    case VT_I2:
    case VT_UI2:
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_I8:
    case VT_UI8:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_BOOL:
      return true;
    default:
      return false;
  }
}

HRESULT changeNumericType(const VARIANT& value, VARTYPE type, VARIANT& result) {
  VARIANT converted;
  VariantInit(&converted);
  const HRESULT hr = convert(readNumber(value), type, converted);
  if (FAILED(hr)) return hr;
  converted.vt = type;
  std::memcpy(static_cast<void*>(&result), &converted, sizeof converted);
  return S_OK;
}

}  // namespace velt::platform::oleaut
