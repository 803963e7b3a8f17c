#include <gtest/gtest.h>

#include "oleaut_support.h"

TEST(VariantTest, ClearFreesOwnedValuesAndLeavesReferencedOnesAlone) {
  VARIANT v;
  VariantInit(&v);
  EXPECT_EQ(v.vt, VT_EMPTY);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(OLESTR("owned"));  // leaks under ASan unless cleared
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(v.vt, VT_EMPTY);

  CountedUnknown unknown;
  v.vt = VT_UNKNOWN;
  v.punkVal = &unknown;
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(unknown.references, 0u);

  BSTR text = SysAllocString(OLESTR("not owned"));
  v.vt = VT_BSTR | VT_BYREF;
  v.pbstrVal = &text;
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(storedText(text), OLESTR("not owned"));
  SysFreeString(text);
}

TEST(VariantTest, InvalidTypesAreRejected) {
  VARIANT v;
  VariantInit(&v);
  for (VARTYPE bad : {VARTYPE(15), VARTYPE(VT_VOID), VARTYPE(VT_VARIANT), VARTYPE(VT_LPWSTR),
                      VARTYPE(VT_VECTOR | VT_I4), VARTYPE(VT_ARRAY | VT_NULL),
                      VARTYPE(VT_BYREF | VT_EMPTY), VARTYPE(0xFFFF)}) {
    // VARIANT* is listed among the types a VARIANT may hold, yet only a reference has a
    // member for it; what a bare VT_VARIANT means is left open, and Wine takes it as empty.
    if (bad == VT_VARIANT && !kPosixLayer) continue;
    v.vt = bad;
    EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE) << bad;
    OwnedVariant copy;
    EXPECT_EQ(VariantCopy(copy.get(), &v), DISP_E_BADVARTYPE) << bad;
    EXPECT_EQ(VariantChangeType(copy.get(), &v, 0, VT_BSTR), DISP_E_BADVARTYPE) << bad;
  }
  if (kPosixLayer) {  // a null VARIANT is left open by the published behaviour
    EXPECT_EQ(VariantClear(nullptr), E_INVALIDARG);
  }
}

TEST(VariantCopyTest, StringsAndArraysAreDeepCopiedWhole) {
  const OLECHAR text[] = {u'a', u'b', 0, u'c', u'd'};
  OwnedVariant source;
  source.get()->vt = VT_BSTR;
  source.get()->bstrVal = SysAllocStringLen(text, 5);
  OwnedVariant copy;
  ASSERT_EQ(VariantCopy(copy.get(), source.get()), S_OK);
  EXPECT_EQ(copy.get()->vt, VT_BSTR);
  EXPECT_NE(copy.get()->bstrVal, source.get()->bstrVal);
  EXPECT_EQ(storedText(copy.get()->bstrVal), OleText(text, 5));

  OwnedVariant array;
  array.get()->vt = VT_ARRAY | VT_BSTR;
  array.get()->parray = SafeArrayCreateVector(VT_BSTR, 0, 1);
  LONG index = 0;
  ASSERT_EQ(SafeArrayPutElement(array.get()->parray, &index, source.get()->bstrVal), S_OK);
  ASSERT_EQ(VariantCopy(copy.get(), array.get()), S_OK);
  ASSERT_NE(copy.get()->parray, array.get()->parray);
  BSTR element = nullptr;
  ASSERT_EQ(SafeArrayGetElement(copy.get()->parray, &index, &element), S_OK);
  EXPECT_EQ(storedText(element), OleText(text, 5));
  SysFreeString(element);
}

TEST(VariantCopyTest, ReleasesTheOldDestinationAndAddRefsInterfaces) {
  CountedUnknown unknown;
  OwnedVariant source;
  source.get()->vt = VT_UNKNOWN;
  source.get()->punkVal = &unknown;
  unknown.AddRef();  // the reference source owns
  OwnedVariant copy;
  copy.get()->vt = VT_BSTR;
  copy.get()->bstrVal = SysAllocString(OLESTR("replaced"));
  ASSERT_EQ(VariantCopy(copy.get(), source.get()), S_OK);
  EXPECT_EQ(unknown.references, 3u);
  EXPECT_EQ(VariantCopy(copy.get(), copy.get()), S_OK);
  EXPECT_EQ(unknown.references, 3u) << "copy onto itself changes nothing";
  VariantClear(copy.get());
  VariantClear(source.get());
  EXPECT_EQ(unknown.references, 1u);
}
