#include "wmi_test_support.h"

namespace velt::wmi::test {

const char* const kTestMof = R"MOF(
#pragma namespace("\\\\.\\root\\test")
// every scalar type
[Description("all kinds")]
class Kinds {
  [key] string Name;
  sint8 S8; uint8 U8; sint16 S16; uint16 U16 = 7; sint32 S32; uint32 U32;
  sint64 S64; uint64 U64; real32 R32; real64 R64 = 2.5; boolean B; datetime When;
  char16 C; string Tags[] = {"a", "b"}; sint32 Numbers[];
  /* a method */
  uint32 Scale([in] sint32 Value, [in, out] string Label, [out] sint32 Doubled);
};
class Base { [key] sint32 Id; string Common = "base"; };
class Derived : Base { string Extra; };
class Pair { [key] string Name; [key] uint32 Slot; sint32 Data; };
[singleton] class Settings { string Mode; };
)MOF";

std::u16string getText(IWbemClassObject* object, const char16_t* name) {
  velt::OwnedVariant v;
  if (FAILED(object->Get(name, 0, v.get(), nullptr, nullptr))) return u"<failed>";
  if (v.get()->vt == VT_NULL) return u"<null>";
  return v.vt() == VT_BSTR ? std::u16string(v.value().bstrVal) : u"<not text>";
}

IWbemClassObject* classOf(IWbemServices* ns, const char16_t* name) {
  velt::UniqueBstr path = velt::bstrFromUtf16(name);
  IWbemClassObject* cls = nullptr;
  if (FAILED(ns->GetObject(path.get(), 0, nullptr, &cls, nullptr))) return nullptr;
  return cls;
}

HRESULT putText(IWbemClassObject* object, const char16_t* name, const char16_t* value) {
  velt::OwnedVariant v;
  v.get()->vt = VT_BSTR;
  v.get()->bstrVal = SysAllocString(value);
  return object->Put(name, 0, v.get(), 0);
}

HRESULT putInt(IWbemClassObject* object, const char16_t* name, LONG value) {
  velt::OwnedVariant v;
  v.get()->vt = VT_I4;
  v.get()->lVal = value;
  return object->Put(name, 0, v.get(), 0);
}

HRESULT subscribe(IWbemServices* ns, IWbemObjectSink* sink, const char16_t* query) {
  const velt::UniqueBstr wql = velt::bstrFromUtf16(u"WQL"), text = velt::bstrFromUtf16(query);
  return ns->ExecNotificationQueryAsync(wql.get(), text.get(), 0, nullptr, sink);
}

}  // namespace velt::wmi::test
