// POSIX stand-in for the SDK's comdef.h: the COM-support error object.
#pragma once

#include "winplatform/basetypes.h"

typedef CHAR TCHAR;

// Carries a failed HRESULT as a C++ exception.
class _com_error {
 public:
  explicit _com_error(HRESULT hr) noexcept : m_hresult(hr) {}
  // A copy formats its own message when asked.
  _com_error(const _com_error& other) noexcept : m_hresult(other.m_hresult) {}
  _com_error& operator=(const _com_error& other) noexcept;
  virtual ~_com_error();

  HRESULT Error() const noexcept { return m_hresult; }
  // The system's text for the code without its line end, or "Unknown error 0x%08X"; owned by
  // this object. Null only when memory ran out.
  const TCHAR* ErrorMessage() const noexcept;

 private:
  HRESULT m_hresult;
  mutable TCHAR* m_message = nullptr;
};

// Throws a _com_error carrying hr.
[[noreturn]] void STDAPICALLTYPE _com_issue_error(HRESULT hr);
