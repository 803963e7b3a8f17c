// VariantChangeType between numeric types: exact where the target holds the value, halves
// rounded to the even integer, DISP_E_OVERFLOW where the value does not fit.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "oleaut_support.h"

namespace {

// The numeric value a converted variant holds (currency in units).
double numberIn(const VARIANT& v) {
  switch (v.vt) {
    case VT_I1:
      return static_cast<signed char>(v.cVal);
    case VT_UI1:
      return v.bVal;
    case VT_I2:
      return v.iVal;
    case VT_UI2:
      return v.uiVal;
    case VT_I4:
      return v.lVal;
    case VT_UI4:
      return v.ulVal;
    case VT_INT:
      return v.intVal;
    case VT_UINT:
      return v.uintVal;
    case VT_I8:
      return static_cast<double>(v.llVal);
    case VT_UI8:
      return static_cast<double>(v.ullVal);
    case VT_R4:
      return v.fltVal;
    case VT_R8:
      return v.dblVal;
    case VT_DATE:
      return v.date;
    case VT_CY:
      return static_cast<double>(v.cyVal.int64) / 10000;
    case VT_BOOL:
      return v.boolVal;
    default:
      ADD_FAILURE() << "not a number: " << v.vt;
      return std::nan("");
  }
}

struct Conversion {
  const char* name;
  VARIANT source;
  VARTYPE target;
  HRESULT expected;
  double value;  // when expected succeeds
  // Wine copies the bits between signed and unsigned types of one width, and from VT_BOOL
  // to unsigned types, where the value does not fit.
  bool wineCopiesBits = false;
};

}  // namespace

TEST(VariantNumericTest, NumbersConvertOrOverflow) {
  constexpr LONGLONG kMaxI8 = std::numeric_limits<LONGLONG>::max();
  const Conversion conversions[] = {
      {"I4 to R8", i4(-7), VT_R8, S_OK, -7.0},
      {"I4 to R4", i4(16777217), VT_R4, S_OK, 16777216.0},
      {"I4 to I2 in range", i4(-32768), VT_I2, S_OK, -32768},
      {"I4 to I2 beyond", i4(32768), VT_I2, DISP_E_OVERFLOW, 0},
      {"I4 to UI1 beyond", i4(256), VT_UI1, DISP_E_OVERFLOW, 0},
      {"negative I4 to UI4", i4(-1), VT_UI4, DISP_E_OVERFLOW, 0, true},
      {"negative I4 to UI8", i4(-1), VT_UI8, DISP_E_OVERFLOW, 0},
      {"negative I8 to UI8", i8(-1), VT_UI8, DISP_E_OVERFLOW, 0, true},
      {"UI4 to I4 beyond", ui4(0x80000000u), VT_I4, DISP_E_OVERFLOW, 0, true},
      {"UI4 to I8", ui4(0xFFFFFFFFu), VT_I8, S_OK, 4294967295.0},
      {"I8 to I4 beyond", i8(0x100000000LL), VT_I4, DISP_E_OVERFLOW, 0},
      {"I8 to R8", i8(-(1LL << 53)), VT_R8, S_OK, -9007199254740992.0},
      {"R8 2.5 to I4", r8(2.5), VT_I4, S_OK, 2},
      {"R8 3.5 to I4", r8(3.5), VT_I4, S_OK, 4},
      {"R8 -2.5 to I2", r8(-2.5), VT_I2, S_OK, -2},
      {"R8 2.6 to UI1", r8(2.6), VT_UI1, S_OK, 3},
      {"R8 -0.4 to UI1", r8(-0.4), VT_UI1, S_OK, 0},
      {"R8 255.5 to UI1", r8(255.5), VT_UI1, DISP_E_OVERFLOW, 0},
      {"R8 -0.6 to UI4", r8(-0.6), VT_UI4, DISP_E_OVERFLOW, 0},
      {"R8 to I4 beyond", r8(2147483647.5), VT_I4, DISP_E_OVERFLOW, 0},
      {"R8 to I8 beyond", r8(9223372036854775808.0), VT_I8, DISP_E_OVERFLOW, 0},
      {"R8 to R4 beyond", r8(1e39), VT_R4, DISP_E_OVERFLOW, 0},
      {"R8 to CY", r8(-1.25), VT_CY, S_OK, -1.25},
      {"R8 to CY beyond", r8(1e15), VT_CY, DISP_E_OVERFLOW, 0},
      {"CY 1.5 to I4", currency(15000), VT_I4, S_OK, 2},
      {"CY 2.5 to I4", currency(25000), VT_I4, S_OK, 2},
      {"CY -2.5001 to I4", currency(-25001), VT_I4, S_OK, -3},
      {"CY to R8", currency(-12345678), VT_R8, S_OK, -1234.5678},
      {"I4 to CY", i4(-5), VT_CY, S_OK, -5},
      {"I8 to CY beyond", i8(kMaxI8 / 10000 + 1), VT_CY, DISP_E_OVERFLOW, 0},
      {"true to I4", truth(VARIANT_TRUE), VT_I4, S_OK, -1},
      {"true to R8", truth(VARIANT_TRUE), VT_R8, S_OK, -1},
      {"true to UINT, by way of I2", truth(VARIANT_TRUE), VT_UINT, DISP_E_OVERFLOW, 0, true},
      {"zero to BOOL", i4(0), VT_BOOL, S_OK, VARIANT_FALSE},
      {"R8 0.5 to BOOL", r8(0.5), VT_BOOL, S_OK, VARIANT_TRUE},
      {"empty to I4", make(VT_EMPTY), VT_I4, S_OK, 0},
      {"R8 to DATE", r8(45000.25), VT_DATE, S_OK, 45000.25},
      {"R8 to DATE beyond", r8(3e6), VT_DATE, DISP_E_OVERFLOW, 0},
      {"I4 to DATE before the first day", i4(-657435), VT_DATE, DISP_E_OVERFLOW, 0},
      {"null to I4", make(VT_NULL), VT_I4, DISP_E_TYPEMISMATCH, 0},
      {"error to R8", make(VT_ERROR), VT_R8, DISP_E_TYPEMISMATCH, 0},
      {"I4 to UNKNOWN", i4(1), VT_UNKNOWN, DISP_E_TYPEMISMATCH, 0},
  };
  const bool wine = runsUnderWine();
  for (const Conversion& c : conversions) {
    SCOPED_TRACE(c.name);
    if (c.wineCopiesBits && wine) continue;
    OwnedVariant result;
    VARIANT source = c.source;
    const HRESULT hr = VariantChangeType(result.get(), &source, 0, c.target);
    EXPECT_EQ(static_cast<ULONG>(hr), static_cast<ULONG>(c.expected));
    if (FAILED(hr)) {
      EXPECT_EQ(result.get()->vt, VT_EMPTY) << "a failed change leaves the destination alone";
      continue;
    }
    EXPECT_EQ(result.get()->vt, c.target);
    EXPECT_EQ(numberIn(*result.get()), c.value);
  }
}
