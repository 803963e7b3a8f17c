#include <comdef.h>
#include <windows.h>

#include <cstdio>

_com_error& _com_error::operator=(const _com_error& other) noexcept {
  if (this != &other) {
    LocalFree(m_message);
    m_message = nullptr;
    m_hresult = other.m_hresult;
  }
  return *this;
}

_com_error::~_com_error() { LocalFree(m_message); }

const TCHAR* _com_error::ErrorMessage() const noexcept {
  if (m_message != nullptr) return m_message;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(m_hresult), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
      reinterpret_cast<LPSTR>(&m_message), 0, nullptr);
  if (length > 0) {
    for (DWORD end = length; end > 0 && (m_message[end - 1] == '\r' || m_message[end - 1] == '\n');
         --end) {
      m_message[end - 1] = '\0';
    }
    return m_message;
  }
  // An HRESULT that carries a dispatch interface's 16-bit error code is named by that code.
  constexpr size_t kUnknownSize = 32;
  m_message = static_cast<TCHAR*>(LocalAlloc(LMEM_FIXED, kUnknownSize));
  if (m_message != nullptr) {
    const auto code = static_cast<unsigned>(m_hresult);
    if (code >= 0x80040200u && code <= 0x8004FFFFu) {
      std::snprintf(m_message, kUnknownSize, "IDispatch error #%u", code - 0x80040200u);
    } else {
      std::snprintf(m_message, kUnknownSize, "Unknown error 0x%08X", code);
    }
  }
  return m_message;
}

void STDAPICALLTYPE _com_issue_error(HRESULT hr) { throw _com_error(hr); }
