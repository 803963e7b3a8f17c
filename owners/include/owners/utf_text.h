// UTF-8 and UTF-16 into each other, by the system's own conversion so that every part of the
// product treats malformed text alike. WCHAR is 16 bits on every platform this builds for.
#pragma once

#include <windows.h>

#include <oleauto.h>

#include <string>
#include <string_view>

#include "owners/unique_handle.h"

namespace velt {

static_assert(sizeof(WCHAR) == sizeof(char16_t), "UTF-16 text needs 16-bit WCHARs");

inline std::u16string utf16FromUtf8(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int units =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  if (units <= 0) return {};
  std::u16string wide(static_cast<std::size_t>(units), u'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                      reinterpret_cast<LPWSTR>(wide.data()), units);
  return wide;
}

inline std::string utf8FromUtf16(std::u16string_view wide) {
  if (wide.empty()) return {};
  const auto* units = reinterpret_cast<LPCWSTR>(wide.data());
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, units, static_cast<int>(wide.size()), nullptr,
                                        0, nullptr, nullptr);
  if (bytes <= 0) return {};
  std::string utf8(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, units, static_cast<int>(wide.size()), utf8.data(), bytes, nullptr,
                      nullptr);
  return utf8;
}

// Text as an OLECHAR string up to its first zero; null reads as empty.
inline std::u16string_view utf16View(const OLECHAR* text) {
  return text == nullptr ? std::u16string_view()
                         : std::u16string_view(reinterpret_cast<const char16_t*>(text));
}

inline std::string utf8FromUtf16(const OLECHAR* text) { return utf8FromUtf16(utf16View(text)); }

// A new BSTR with the text's units; empty when there is no memory for it.
inline UniqueBstr bstrFromUtf16(std::u16string_view text) {
  return UniqueBstr(SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()),
                                      static_cast<UINT>(text.size())));
}

inline UniqueBstr bstrFromUtf8(std::string_view text) { return bstrFromUtf16(utf16FromUtf8(text)); }

}  // namespace velt
