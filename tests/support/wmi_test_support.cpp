#include "wmi_test_support.h"

#include <cstdio>
#include <vector>

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

LONG getInt(IWbemClassObject* object, const char16_t* name) {
  velt::OwnedVariant v;
  object->Get(name, 0, v.get(), nullptr, nullptr);
  return v.vt() == VT_I4 ? v.value().lVal : -1;
}

std::vector<std::u16string> namesIn(SAFEARRAY* array) {
  velt::UniqueSafeArray owned(array);
  std::vector<std::u16string> out;
  LONG low = 0, high = -1;
  SafeArrayGetLBound(array, 1, &low);
  SafeArrayGetUBound(array, 1, &high);
  for (LONG i = low; i <= high; ++i) {
    velt::UniqueBstr name;
    SafeArrayGetElement(array, &i, name.put());
    out.emplace_back(name.get());
  }
  return out;
}

std::vector<std::u16string> namesOf(IWbemClassObject* object, LONG flags,
                                    const char16_t* qualifier) {
  SAFEARRAY* list = nullptr;
  if (FAILED(object->GetNames(qualifier, flags, nullptr, &list))) return {u"<failed>"};
  return namesIn(list);
}

std::string valueText(const detail::Variant& value) {
  if (value.vt() == VT_NULL || value.vt() == VT_EMPTY) return "null";
  std::string out = std::to_string(value.vt()) + ":";
  std::vector<detail::Variant> items;
  if (value.vt() & VT_ARRAY) {
    if (FAILED(detail::readElements(*value.get(), items))) return out + "<unreadable>";
  } else {
    items.push_back(detail::Variant());
    VariantCopy(items.back().get(), value.get());
  }
  for (const detail::Variant& item : items) {
    detail::Variant text;
    if (item.vt() == VT_R4 || item.vt() == VT_R8) {
      char digits[40];
      std::snprintf(digits, sizeof digits, "%.17g",
                    item.vt() == VT_R4 ? double(item.get()->fltVal) : item.get()->dblVal);
      out += digits;
    } else if (SUCCEEDED(detail::coerceToCimType(*item.get(), CIM_STRING, text)) ||
               SUCCEEDED(detail::coerceToCimType(*item.get(), CIM_SINT64, text))) {
      // 64-bit integers are text in their canonical form already.
      out += text.vt() == VT_BSTR ? velt::utf8FromUtf16(text.asText()) : std::to_string(text.vt());
    }
    out += ",";
  }
  return out;
}

HRESULT subscribe(IWbemServices* ns, IWbemObjectSink* sink, const char16_t* query) {
  const velt::UniqueBstr wql = velt::bstrFromUtf16(u"WQL"), text = velt::bstrFromUtf16(query);
  return ns->ExecNotificationQueryAsync(wql.get(), text.get(), 0, nullptr, sink);
}

}  // namespace velt::wmi::test
