// Test helpers: the owners of BSTRs and VARIANTs, and a view of a BSTR's whole stored text.
#pragma once

#include <ole2.h>
#include <windows.h>

#include <owners/owned_variant.h>
#include <owners/unique_handle.h>

#include <cstring>
#include <string>

using velt::OwnedVariant;
using velt::UniqueBstr;

// Whether the OLE Automation under test is Wine's, which differs from the published
// behaviour in a few places the tests name.
inline bool runsUnderWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// Whether the OLE Automation under test is the POSIX layer. Where the published behaviour
// leaves an input open (a null or overlapping pointer, a value outside its type), only that
// layer's safe answer is checked: on Windows the same call may legitimately crash.
#ifdef _WIN32
constexpr bool kPosixLayer = false;
#else
constexpr bool kPosixLayer = true;
#endif

// A VARIANT of the given type for the caller to fill in, its value all zero; it owns nothing.
inline VARIANT make(VARTYPE vt) {
  VARIANT v{};
  VariantInit(&v);
  v.vt = vt;
  return v;
}

// A VARIANT holding `value` as its type `vt`: every value member starts the union.
template <typename T>
VARIANT holding(VARTYPE vt, T value) {
  VARIANT v = make(vt);
  std::memcpy(&v.llVal, &value, sizeof value);
  return v;
}
inline VARIANT i4(LONG value) { return holding(VT_I4, value); }
inline VARIANT ui4(ULONG value) { return holding(VT_UI4, value); }
inline VARIANT i8(LONGLONG value) { return holding(VT_I8, value); }
inline VARIANT r4(float value) { return holding(VT_R4, value); }
inline VARIANT r8(double value) { return holding(VT_R8, value); }
inline VARIANT date(DATE value) { return holding(VT_DATE, value); }
inline VARIANT truth(VARIANT_BOOL value) { return holding(VT_BOOL, value); }
// A currency VARIANT from its value in units of 1/10000.
inline VARIANT currency(LONGLONG scaled) { return holding(VT_CY, scaled); }

// Text in the platform's OLE characters.
using OleText = std::basic_string<OLECHAR>;

// Every unit the BSTR's length prefix covers, embedded NULs included.
inline OleText storedText(BSTR bstr) {
  return bstr == nullptr ? OleText() : OleText(bstr, SysStringLen(bstr));
}

// A minimal IUnknown whose reference count the tests can watch.
class CountedUnknown : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }
  ULONG references = 1;
};
