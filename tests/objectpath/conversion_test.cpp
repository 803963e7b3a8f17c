#include <comdef.h>
#include <gtest/gtest.h>
#include <owners/owned_variant.h>
#include <owners/unique_handle.h>

#include <string>

#include "objectpath/conversion.h"

namespace {

std::string bytes(std::initializer_list<unsigned char> list) {
  return std::string(list.begin(), list.end());
}

using velt::OwnedVariant;

// A VARIANT of type `vt` whose value is `set` (a BSTR or array set there is owned).
OwnedVariant variant(
    VARTYPE vt, void (*set)(VARIANT&) = [](VARIANT&) {}) {
  OwnedVariant value;
  value.get()->vt = vt;
  set(*value.get());
  return value;
}

HRESULT comErrorOf(const VARIANT& value) {
  try {
    wideFromVariant(value);
  } catch (const _com_error& error) {
    return error.Error();
  }
  return S_OK;
}

}  // namespace

TEST(ToUtf8Test, EncodesEachUnitWithTheLengthItsValueNeeds) {
  EXPECT_EQ(toUtf8(OLESTR("Disk_1")), "Disk_1");
  EXPECT_EQ(toUtf8(OLESTR("\u007F")), bytes({0x7F}));
  EXPECT_EQ(toUtf8(OLESTR("\u0080")), bytes({0xC2, 0x80}));
  EXPECT_EQ(toUtf8(OLESTR("\u00E9")), bytes({0xC3, 0xA9}));
  EXPECT_EQ(toUtf8(OLESTR("\u07FF")), bytes({0xDF, 0xBF}));
  EXPECT_EQ(toUtf8(OLESTR("\u0800")), bytes({0xE0, 0xA0, 0x80}));
  EXPECT_EQ(toUtf8(OLESTR("\u20AC")), bytes({0xE2, 0x82, 0xAC}));
  EXPECT_EQ(toUtf8(OLESTR("\uFFFF")), bytes({0xEF, 0xBF, 0xBF}));
  // Surrogates are encoded unit by unit; the text ends at its first zero unit.
  EXPECT_EQ(toUtf8(WideText{0xD83D, 0xDE00}), bytes({0xED, 0xA0, 0xBD, 0xED, 0xB8, 0x80}));
  EXPECT_EQ(toUtf8(WideText{0xDC00, u'a'}), bytes({0xED, 0xB0, 0x80, 'a'}));
  EXPECT_EQ(toUtf8(WideText{u'A', 0, u'B'}), "A");
  EXPECT_EQ(toUtf8(OLESTR("")), "");
}

TEST(WideFromBstrTest, StopsAtEmbeddedNulAndNullIsEmpty) {
  const OLECHAR text[] = {u'a', u'b', 0, u'c'};
  velt::UniqueBstr bstr(SysAllocStringLen(text, 4));
  EXPECT_EQ(wideFromBstr(bstr.get()), OLESTR("ab"));
  EXPECT_EQ(SysStringLen(bstr.get()), 4u) << "the argument is left alone";
  EXPECT_EQ(wideFromBstr(nullptr), OLESTR(""));
}

TEST(WideFromVariantTest, StringsAsTheyAreOtherValuesAsTheirText) {
  OwnedVariant text =
      variant(VT_BSTR, [](VARIANT& v) { v.bstrVal = SysAllocString(OLESTR("C:\\ \u00E9")); });
  EXPECT_EQ(wideFromVariant(text.value()), OLESTR("C:\\ \u00E9"));
  EXPECT_EQ(text.get()->vt, VT_BSTR);
  OwnedVariant number = variant(VT_I4, [](VARIANT& v) { v.lVal = 42; });
  EXPECT_EQ(wideFromVariant(number.value()), OLESTR("42"));
  EXPECT_EQ(toUtf8(wideFromVariant(number.value())), "42");
  EXPECT_EQ(wideFromVariant(variant(VT_EMPTY).value()), OLESTR(""));
}

TEST(WideFromVariantTest, FailuresRaiseTheirStatus) {
  EXPECT_EQ(comErrorOf(variant(VT_NULL).value()), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(comErrorOf(variant(VT_VOID).value()), DISP_E_BADVARTYPE);
  OwnedVariant array = variant(VT_ARRAY | VT_BSTR,
                               [](VARIANT& v) { v.parray = SafeArrayCreateVector(VT_BSTR, 0, 1); });
  EXPECT_EQ(comErrorOf(array.value()), DISP_E_TYPEMISMATCH) << "and the copy is freed (ASan)";
}
