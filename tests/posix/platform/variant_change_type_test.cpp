// VariantChangeType beyond the reference table: where the result goes, references, flags and
// the edges of the currency and date texts.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "oleaut_support.h"

namespace {

// The text VariantChangeType makes of v, or the failure code as text.
OleText textOf(VARIANT& v, USHORT flags = 0) {
  OwnedVariant result;
  const HRESULT hr = VariantChangeType(result.get(), &v, flags, VT_BSTR);
  if (FAILED(hr)) return OLESTR("failed");
  EXPECT_EQ(result.get()->vt, VT_BSTR);
  return storedText(result.get()->bstrVal);
}

}  // namespace

TEST(VariantChangeTypeTest, ConvertsInPlaceAndAFailureLeavesTheDestination) {
  OwnedVariant v;
  *v.get() = i4(-12);
  ASSERT_EQ(VariantChangeType(v.get(), v.get(), 0, VT_BSTR), S_OK);
  EXPECT_EQ(v.get()->vt, VT_BSTR);
  EXPECT_EQ(storedText(v.get()->bstrVal), OLESTR("-12"));
  VARIANT null = make(VT_NULL);
  EXPECT_EQ(VariantChangeType(v.get(), &null, 0, VT_BSTR), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(storedText(v.get()->bstrVal), OLESTR("-12"));
}

TEST(VariantChangeTypeTest, FollowsReferences) {
  LONG number = 77;
  VARIANT byRef = make(VT_I4 | VT_BYREF);
  byRef.plVal = &number;
  EXPECT_EQ(textOf(byRef), OLESTR("77"));

  OwnedVariant inner;
  inner.get()->vt = VT_BSTR;
  inner.get()->bstrVal = SysAllocString(OLESTR("inner"));
  VARIANT toVariant = make(VT_VARIANT | VT_BYREF);
  toVariant.pvarVal = inner.get();
  EXPECT_EQ(textOf(toVariant), OLESTR("inner"));

  byRef.plVal = nullptr;
  EXPECT_EQ(textOf(byRef), OLESTR("failed"));
}

TEST(VariantChangeTypeTest, SameTypeCopiesAndReferenceTargetsAreTypeMismatch) {
  OwnedVariant source;
  *source.get() = i4(5);
  OwnedVariant result;
  ASSERT_EQ(VariantChangeType(result.get(), source.get(), 0, VT_I4), S_OK);
  EXPECT_EQ(result.get()->lVal, 5);
  // A reference is a valid type of variant, only not one a value can be coerced into.
  EXPECT_EQ(VariantChangeType(result.get(), source.get(), 0, VT_BSTR | VT_BYREF),
            DISP_E_TYPEMISMATCH);
  EXPECT_EQ(VariantChangeType(result.get(), source.get(), 0, VARTYPE(15)), DISP_E_BADVARTYPE);
  EXPECT_EQ(result.get()->lVal, 5) << "failures leave the destination alone";
  if (kPosixLayer) {  // a null destination is left open by the published behaviour
    EXPECT_EQ(VariantChangeType(nullptr, source.get(), 0, VT_BSTR), E_INVALIDARG);
  }
}

// Booleans as words only with their flags; currency with only its significant fraction digits;
// dates with date and time only where present, the fraction counting forward from the day
// whatever the sign; reals outside the numbers still as text.
TEST(VariantChangeTypeTest, TextOfBooleansCurrencyDatesAndReals) {
  constexpr LONGLONG kMinCurrency = std::numeric_limits<LONGLONG>::min();
  const struct Case {
    VARIANT value;
    USHORT flags;
    const OLECHAR* text;  // nullptr: left open, only the POSIX layer's answer is checked
    const OLECHAR* posixText = nullptr;
  } cases[] = {
      {truth(VARIANT_TRUE), VARIANT_ALPHABOOL, OLESTR("True")},
      {truth(VARIANT_FALSE), VARIANT_LOCALBOOL, OLESTR("False")},
      {truth(1), 0, nullptr, OLESTR("-1")},  // a VARIANT_BOOL is 0 or -1
      {currency(-12345678), 0, OLESTR("-1234.5678")},
      {currency(10500), 0, OLESTR("1.05")},
      {currency(20000), 0, OLESTR("2")},
      {currency(1), 0, OLESTR("0.0001")},
      {currency(kMinCurrency), 0, OLESTR("-922337203685477.5808")},
      {date(45000.0), 0, OLESTR("3/15/2023")},
      {date(0.25), 0, OLESTR("6:00:00 AM")},
      {date(-1.25), 0, OLESTR("12/29/1899 6:00:00 AM")},
      {date(1.0), 0, OLESTR("12/31/1899")},
      {date(2958465.5), 0, OLESTR("12/31/9999 12:00:00 PM")},
      {date(-657434.0), 0, OLESTR("1/1/100")},
      {date(-657434.5), 0, OLESTR("1/1/100 12:00:00 PM")},
      {date(2958466.0), 0, OLESTR("failed")},
      {date(-657435.0), 0, OLESTR("failed")},
      {date(HUGE_VAL), 0, OLESTR("failed")},
      {date(std::nan("")), 0, nullptr, OLESTR("failed")},  // NaN is no date
      {r8(-HUGE_VAL), 0, nullptr, OLESTR("-1.#INF")},      // the text of an infinity
      {r8(1e-300), 0, OLESTR("1E-300")},
      {r4(16777216.0f), 0, OLESTR("1.677722E+07")},
  };
  for (Case c : cases) {
    const OLECHAR* expected = c.text != nullptr ? c.text : kPosixLayer ? c.posixText : nullptr;
    if (expected == nullptr) continue;
    EXPECT_EQ(textOf(c.value, c.flags), expected) << c.value.vt;
  }
}

TEST(VariantChangeTypeTest, TimesRoundToTheSecondAcrossMidnight) {
  // Wine rounds the time up to midnight but keeps the day before, a day early.
  if (runsUnderWine()) GTEST_SKIP() << "Wine writes 23:59:59.9 on 12/30/1899 as 12:00:00 AM";
  VARIANT v = date(1.0 - 0.1 / 86400);
  EXPECT_EQ(textOf(v), OLESTR("12/31/1899"));
  v = date(2.5 - 0.4 / 86400);
  EXPECT_EQ(textOf(v), OLESTR("1/1/1900 12:00:00 PM"));
}
