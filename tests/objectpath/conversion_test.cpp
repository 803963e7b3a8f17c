#include <comdef.h>
#include <gtest/gtest.h>

#include <string>

#include "objectpath/conversion.h"
#include "test_variant.h"

namespace {

std::string bytes(std::initializer_list<unsigned char> list) {
  return std::string(list.begin(), list.end());
}

using velt::objectpath::test::Variant;

HRESULT comErrorOf(const VARIANT& value) {
  try {
    wideFromVariant(value);
  } catch (const _com_error& error) {
    return error.Error();
  }
  return S_OK;
}

}  // namespace

TEST(ToUtf8Test, LengthChangesAtEachEncodingBoundary) {
  EXPECT_EQ(toUtf8(OLESTR("Disk_1")), "Disk_1");
  EXPECT_EQ(toUtf8(OLESTR("\u007F")), bytes({0x7F}));
  EXPECT_EQ(toUtf8(OLESTR("\u0080")), bytes({0xC2, 0x80}));
  EXPECT_EQ(toUtf8(OLESTR("\u00E9")), bytes({0xC3, 0xA9}));
  EXPECT_EQ(toUtf8(OLESTR("\u07FF")), bytes({0xDF, 0xBF}));
  EXPECT_EQ(toUtf8(OLESTR("\u0800")), bytes({0xE0, 0xA0, 0x80}));
  EXPECT_EQ(toUtf8(OLESTR("\u20AC")), bytes({0xE2, 0x82, 0xAC}));
  EXPECT_EQ(toUtf8(OLESTR("\uFFFF")), bytes({0xEF, 0xBF, 0xBF}));
}

TEST(ToUtf8Test, SurrogatesAreEncodedUnitByUnit) {
  EXPECT_EQ(toUtf8(WideText{0xD83D, 0xDE00}), bytes({0xED, 0xA0, 0xBD, 0xED, 0xB8, 0x80}));
  EXPECT_EQ(toUtf8(WideText{0xDC00, u'a'}), bytes({0xED, 0xB0, 0x80, 'a'}));
}

TEST(ToUtf8Test, StopsAtTheFirstZeroUnit) {
  EXPECT_EQ(toUtf8(WideText{u'A', 0, u'B'}), "A");
  EXPECT_EQ(toUtf8(OLESTR("")), "");
}

TEST(WideFromBstrTest, StopsAtEmbeddedNulAndNullIsEmpty) {
  const OLECHAR text[] = {u'a', u'b', 0, u'c'};
  BSTR bstr = SysAllocStringLen(text, 4);
  EXPECT_EQ(wideFromBstr(bstr), OLESTR("ab"));
  EXPECT_EQ(SysStringLen(bstr), 4u) << "the argument is left alone";
  SysFreeString(bstr);
  EXPECT_EQ(wideFromBstr(nullptr), OLESTR(""));
}

TEST(WideFromVariantTest, StringsAsTheyAreOtherValuesAsTheirText) {
  Variant text;
  text->vt = VT_BSTR;
  text->bstrVal = SysAllocString(OLESTR("C:\\ \u00E9"));
  EXPECT_EQ(wideFromVariant(*text), OLESTR("C:\\ \u00E9"));
  EXPECT_EQ(text->vt, VT_BSTR);

  Variant number;
  number->vt = VT_I4;
  number->lVal = 42;
  EXPECT_EQ(wideFromVariant(*number), OLESTR("42"));
  EXPECT_EQ(toUtf8(wideFromVariant(*number)), "42");

  EXPECT_EQ(wideFromVariant(*Variant()), OLESTR("")) << "VT_EMPTY";
}

TEST(WideFromVariantTest, FailuresRaiseTheirStatus) {
  Variant null;
  null->vt = VT_NULL;
  EXPECT_EQ(comErrorOf(*null), DISP_E_TYPEMISMATCH);
  Variant bad;
  bad->vt = VT_VOID;
  EXPECT_EQ(comErrorOf(*bad), DISP_E_BADVARTYPE);
  Variant array;
  array->vt = VT_ARRAY | VT_BSTR;
  array->parray = SafeArrayCreateVector(VT_BSTR, 0, 1);
  EXPECT_EQ(comErrorOf(*array), DISP_E_TYPEMISMATCH) << "and the copy is freed (ASan)";
}
