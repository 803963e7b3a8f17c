// VariantChangeType between numeric types: exact where the target holds the value, halves
// rounded to the even integer, DISP_E_OVERFLOW where the value does not fit.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "oleaut_support.h"

namespace {

VARIANT i2(SHORT value) { return holding(VT_I2, value); }
VARIANT ui1(BYTE value) { return holding(VT_UI1, value); }

struct Conversion {
  const char* name;
  VARIANT source;
  VARIANT expected;  // its type is the target; its value counts where the change succeeds
  HRESULT status = S_OK;
  // Wine copies the bits between signed and unsigned types of one width, and from VT_BOOL
  // to unsigned types, where the value does not fit.
  bool wineCopiesBits = false;
};

// The value's own bytes: a change to a narrower type may leave the rest of the union as it was.
LONGLONG valueBits(const VARIANT& v) {
  std::size_t width = 0;
  switch (v.vt) {
    case VT_I1:
    case VT_UI1:
      width = 1;
      break;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      width = 2;
      break;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_ERROR:
      width = 4;
      break;
    case VT_I8:
    case VT_UI8:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
      width = 8;
      break;
  }
  LONGLONG bits = 0;
  std::memcpy(&bits, &v.llVal, width);
  return bits;
}

}  // namespace

TEST(VariantNumericTest, NumbersConvertOrOverflow) {
  constexpr LONGLONG kMaxI8 = std::numeric_limits<LONGLONG>::max();
  const Conversion conversions[] = {
      {"I4 to R8", i4(-7), r8(-7.0)},
      {"I4 to R4", i4(16777217), r4(16777216.0f)},
      {"I4 to I2 in range", i4(-32768), i2(-32768)},
      {"I4 to I2 beyond", i4(32768), make(VT_I2), DISP_E_OVERFLOW},
      {"I4 to UI1 beyond", i4(256), make(VT_UI1), DISP_E_OVERFLOW},
      {"negative I4 to UI4", i4(-1), make(VT_UI4), DISP_E_OVERFLOW, true},
      {"negative I4 to UI8", i4(-1), make(VT_UI8), DISP_E_OVERFLOW},
      {"negative I8 to UI8", i8(-1), make(VT_UI8), DISP_E_OVERFLOW, true},
      {"UI4 to I4 beyond", ui4(0x80000000u), make(VT_I4), DISP_E_OVERFLOW, true},
      {"UI4 to I8", ui4(0xFFFFFFFFu), i8(4294967295LL)},
      {"I8 to I4 beyond", i8(0x100000000LL), make(VT_I4), DISP_E_OVERFLOW},
      {"I8 to R8", i8(-(1LL << 53)), r8(-9007199254740992.0)},
      {"R8 2.5 to I4", r8(2.5), i4(2)},
      {"R8 3.5 to I4", r8(3.5), i4(4)},
      {"R8 -2.5 to I2", r8(-2.5), i2(-2)},
      {"R8 2.6 to UI1", r8(2.6), ui1(3)},
      {"R8 -0.4 to UI1", r8(-0.4), ui1(0)},
      {"R8 255.5 to UI1", r8(255.5), make(VT_UI1), DISP_E_OVERFLOW},
      {"R8 -0.6 to UI4", r8(-0.6), make(VT_UI4), DISP_E_OVERFLOW},
      {"R8 to I4 beyond", r8(2147483647.5), make(VT_I4), DISP_E_OVERFLOW},
      {"R8 to I8 beyond", r8(9223372036854775808.0), make(VT_I8), DISP_E_OVERFLOW},
      {"R8 to R4 beyond", r8(1e39), make(VT_R4), DISP_E_OVERFLOW},
      {"R8 to CY", r8(-1.25), currency(-12500)},
      {"R8 to CY beyond", r8(1e15), make(VT_CY), DISP_E_OVERFLOW},
      {"CY 1.5 to I4", currency(15000), i4(2)},
      {"CY 2.5 to I4", currency(25000), i4(2)},
      {"CY -2.5001 to I4", currency(-25001), i4(-3)},
      {"CY to R8", currency(-12345678), r8(-1234.5678)},
      {"I4 to CY", i4(-5), currency(-50000)},
      {"I8 to CY beyond", i8(kMaxI8 / 10000 + 1), make(VT_CY), DISP_E_OVERFLOW},
      {"true to I4", truth(VARIANT_TRUE), i4(-1)},
      {"true to R8", truth(VARIANT_TRUE), r8(-1.0)},
      {"true to UINT, by way of I2", truth(VARIANT_TRUE), make(VT_UINT), DISP_E_OVERFLOW, true},
      {"zero to BOOL", i4(0), truth(VARIANT_FALSE)},
      {"R8 0.5 to BOOL", r8(0.5), truth(VARIANT_TRUE)},
      {"empty to I4", make(VT_EMPTY), i4(0)},
      {"R8 to DATE", r8(45000.25), date(45000.25)},
      {"R8 to DATE beyond", r8(3e6), make(VT_DATE), DISP_E_OVERFLOW},
      {"I4 to DATE before the first day", i4(-657435), make(VT_DATE), DISP_E_OVERFLOW},
      {"null to I4", make(VT_NULL), make(VT_I4), DISP_E_TYPEMISMATCH},
      {"error to R8", make(VT_ERROR), make(VT_R8), DISP_E_TYPEMISMATCH},
      {"I4 to UNKNOWN", i4(1), make(VT_UNKNOWN), DISP_E_TYPEMISMATCH},
  };
  const bool wine = runsUnderWine();
  for (const Conversion& c : conversions) {
    SCOPED_TRACE(c.name);
    if (c.wineCopiesBits && wine) continue;
    OwnedVariant result;
    VARIANT source = c.source;
    const HRESULT hr = VariantChangeType(result.get(), &source, 0, c.expected.vt);
    EXPECT_EQ(static_cast<ULONG>(hr), static_cast<ULONG>(c.status));
    // A failed change leaves the destination alone; a value is compared bit for bit.
    EXPECT_EQ(result.get()->vt, SUCCEEDED(hr) ? c.expected.vt : VARTYPE(VT_EMPTY));
    EXPECT_EQ(valueBits(*result.get()), SUCCEEDED(hr) ? valueBits(c.expected) : LONGLONG(0));
  }
}
