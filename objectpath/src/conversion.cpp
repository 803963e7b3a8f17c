#include "objectpath/conversion.h"

#include <comdef.h>
#include <owners/owned_variant.h>
#include <owners/unique_handle.h>

namespace {

void checked(HRESULT hr) {
  if (FAILED(hr)) _com_issue_error(hr);
}

}  // namespace

std::string toUtf8(WideTextView wide) {
  std::string narrow;
  narrow.reserve(wide.size());
  for (const OLECHAR unit : wide) {
    const char16_t u = static_cast<char16_t>(unit);
    if (u == 0) break;
    if (u < 0x80) {
      narrow += static_cast<char>(u);
    } else if (u < 0x800) {
      narrow += static_cast<char>(0xC0 | (u >> 6));
      narrow += static_cast<char>(0x80 | (u & 0x3F));
    } else {
      // Surrogates too: each half becomes three bytes of its own, nothing is replaced.
      narrow += static_cast<char>(0xE0 | (u >> 12));
      narrow += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
      narrow += static_cast<char>(0x80 | (u & 0x3F));
    }
  }
  return narrow;
}

WideText wideFromBstr(BSTR bstr) {
  if (bstr == nullptr) return WideText();
  // SysAllocString copies up to the first NUL, whatever length the BSTR stores.
  velt::UniqueBstr copy(SysAllocString(bstr));
  if (!copy) _com_issue_error(E_OUTOFMEMORY);
  return WideText(copy.get());
}

WideText wideFromVariant(const VARIANT& value) {
  // Freed on the way out of an exception; the normal path clears them itself so that a failing
  // VariantClear can be reported.
  velt::OwnedVariant copy;
  // The published source parameter is const; not every SDK's header says so.
  checked(VariantCopy(copy.get(), const_cast<VARIANT*>(&value)));
  WideText wide;
  if (copy.get()->vt == VT_BSTR) {
    wide = wideFromBstr(copy.get()->bstrVal);
  } else {
    velt::OwnedVariant text;
    checked(VariantChangeType(text.get(), copy.get(), 0, VT_BSTR));
    wide = wideFromBstr(text.get()->bstrVal);
    checked(text.clear());
  }
  checked(copy.clear());
  return wide;
}
