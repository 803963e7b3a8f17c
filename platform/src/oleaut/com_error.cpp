#include <comdef.h>
#include <oleauto.h>

#include <cstdio>

namespace {

struct KnownMessage {
  HRESULT code;
  const char* text;
};

constexpr KnownMessage kKnownMessages[] = {
    {S_OK, "The operation completed successfully."},
    {E_NOTIMPL, "Not implemented"},
    {E_NOINTERFACE, "No such interface supported"},
    {E_POINTER, "Invalid pointer"},
    {E_ABORT, "Operation aborted"},
    {E_FAIL, "Unspecified error"},
    {E_UNEXPECTED, "Catastrophic failure"},
    {E_ACCESSDENIED, "Access is denied."},
    {E_HANDLE, "The handle is invalid."},
    {E_OUTOFMEMORY, "Not enough storage is available to complete this operation."},
    {E_INVALIDARG, "The parameter is incorrect."},
    {DISP_E_TYPEMISMATCH, "Type mismatch."},
    {DISP_E_BADVARTYPE, "Bad variable type."},
    {DISP_E_OVERFLOW, "Out of present range."},
    {DISP_E_BADINDEX, "Invalid index."},
    {DISP_E_ARRAYISLOCKED, "Memory is locked."},
};

}  // namespace

const TCHAR* _com_error::ErrorMessage() const noexcept {
  for (const KnownMessage& known : kKnownMessages) {
    if (known.code == m_hresult) return known.text;
  }
  // An HRESULT that carries a dispatch interface's 16-bit error code is named by that code.
  const auto code = static_cast<unsigned>(m_hresult);
  if (code >= 0x80040200u && code <= 0x8004FFFFu) {
    std::snprintf(m_unknownText, sizeof m_unknownText, "IDispatch error #%u", code - 0x80040200u);
  } else {
    std::snprintf(m_unknownText, sizeof m_unknownText, "Unknown error 0x%08X", code);
  }
  return m_unknownText;
}

void STDAPICALLTYPE _com_issue_error(HRESULT hr) { throw _com_error(hr); }
