#include "objectpath/conversion.h"

#include <comdef.h>

namespace {

// Frees a temporary VARIANT on the way out of an exception; the normal path clears it itself
// so that a failing VariantClear can be reported.
class TemporaryVariant {
 public:
  TemporaryVariant() { VariantInit(&m_value); }
  ~TemporaryVariant() { VariantClear(&m_value); }
  TemporaryVariant(const TemporaryVariant&) = delete;
  TemporaryVariant& operator=(const TemporaryVariant&) = delete;
  VARIANT* get() { return &m_value; }
  void clear() {
    const HRESULT hr = VariantClear(&m_value);
    if (FAILED(hr)) _com_issue_error(hr);
  }

 private:
  VARIANT m_value;
};

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
  BSTR copy = SysAllocString(bstr);
  if (copy == nullptr) _com_issue_error(E_OUTOFMEMORY);
  WideText wide;
  try {
    wide = copy;
  } catch (...) {
    SysFreeString(copy);
    throw;
  }
  SysFreeString(copy);
  return wide;
}

WideText wideFromVariant(const VARIANT& value) {
  TemporaryVariant copy;
  // The published source parameter is const; not every SDK's header says so.
  checked(VariantCopy(copy.get(), const_cast<VARIANT*>(&value)));
  WideText wide;
  if (copy.get()->vt == VT_BSTR) {
    wide = wideFromBstr(copy.get()->bstrVal);
  } else {
    TemporaryVariant text;
    checked(VariantChangeType(text.get(), copy.get(), 0, VT_BSTR));
    wide = wideFromBstr(text.get()->bstrVal);
    text.clear();
  }
  copy.clear();
  return wide;
}
