// Conversions and instance paths when OLE Automation fails them: running out of memory must
// come out as a COM error carrying E_OUTOFMEMORY, never as a value read from memory not had,
// and a VARIANT that cannot be cleared as a COM error carrying the status VariantClear gave.
#include <comdef.h>
#include <gtest/gtest.h>
#include <owners/owned_variant.h>
#include <owners/unique_handle.h>
#include <winplatform/posix_hooks.h>

#include "objectpath/conversion.h"
#include "objectpath/object_path.h"
#include "scripted_class_object.h"

namespace {

// Runs `step` with the next OLE allocation failing; the status of the COM error it raised.
template <typename Step>
HRESULT statusWithAllocationRefused(Step step) {
  VeltFailNextOleAllocations(1);
  HRESULT status = S_OK;
  try {
    step();
  } catch (const _com_error& error) {
    status = error.Error();
  }
  VeltFailNextOleAllocations(0);
  return status;
}

using velt::OwnedVariant;

TEST(OleFailureTest, ConversionsRaiseOutOfMemory) {
  velt::UniqueBstr text(SysAllocString(OLESTR("text")));
  EXPECT_EQ(statusWithAllocationRefused([&] { wideFromBstr(text.get()); }), E_OUTOFMEMORY);

  OwnedVariant textValue;  // the VariantCopy of a BSTR fails
  textValue.get()->vt = VT_BSTR;
  textValue.get()->bstrVal = SysAllocString(OLESTR("text"));
  EXPECT_EQ(statusWithAllocationRefused([&] { wideFromVariant(textValue.value()); }),
            E_OUTOFMEMORY);

  OwnedVariant number;  // the text VariantChangeType makes cannot be allocated
  number.get()->vt = VT_I4;
  number.get()->lVal = 42;
  EXPECT_EQ(statusWithAllocationRefused([&] { wideFromVariant(number.value()); }), E_OUTOFMEMORY);
  EXPECT_EQ(wideFromVariant(number.value()), OLESTR("42")) << "and works again once memory is back";
}

TEST(OleFailureTest, AnInstancePathWhosePropertyNameCannotBeAllocatedRaisesOutOfMemory) {
  velt::objectpath::test::ScriptedClassObject object;
  object.answerText(u"__CLASS", u"Gadget");
  object.answerText(u"Name", u"a");
  object.setKeyNames({u"Name"});
  EXPECT_EQ(statusWithAllocationRefused([&] { WbemObjectPath path(&object); }), E_OUTOFMEMORY);
  EXPECT_EQ(object.getCalls(), 0) << "nothing is read under a name that could not be made";
  EXPECT_EQ(WbemObjectPath(&object).modelClass(), "Gadget");
}

TEST(OleFailureTest, AValueThatCannotBeClearedRaisesItsStatus) {
  velt::objectpath::test::ScriptedClassObject object;
  object.answerText(u"__CLASS", u"Gadget");
  object.answerInvalidType(u"__SERVER", 0x7FFF);
  HRESULT status = S_OK;
  try {
    WbemObjectPath path(&object);
  } catch (const _com_error& error) {
    status = error.Error();
  }
  EXPECT_EQ(status, DISP_E_BADVARTYPE);
}

}  // namespace
