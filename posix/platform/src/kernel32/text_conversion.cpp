// UTF-16 <-> multi-byte conversion. The ANSI code page of this platform is UTF-8, so CP_ACP
// and CP_UTF8 convert alike; unpaired surrogates and malformed bytes become U+FFFD unless
// the caller asks for errors instead.
#include <string>
#include <string_view>

#include <windows.h>

#include "utf8_code_point.h"

namespace {

using velt::platform::appendUtf8;

constexpr char32_t replacement = 0xFFFD;

// Converts; false when a replacement was needed.
bool toUtf8(const WCHAR* in, size_t count, std::string& out) {
  bool clean = true;
  for (size_t i = 0; i < count; ++i) {
    char32_t c = in[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < count && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (in[++i] - 0xDC00);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = replacement;
      clean = false;
    }
    appendUtf8(out, c);
  }
  return clean;
}

// Decodes one UTF-8 sequence at `in[i]`, advancing `i`; U+FFFD for a malformed one, which
// consumes only its first byte.
char32_t nextCodePoint(std::string_view in, size_t& i, bool& clean) {
  char32_t c = 0;
  size_t length = velt::platform::decodeUtf8(in, i, c);
  if (length == 0) {
    ++i;
    clean = false;
    return replacement;
  }
  i += length;
  return c;
}

bool knownCodePage(UINT codePage) { return codePage == CP_ACP || codePage == CP_UTF8; }

template <typename Unit>
size_t measure(const Unit* text, int count) {
  if (count >= 0) return static_cast<size_t>(count);
  size_t length = 0;
  while (text[length] != 0) ++length;
  return length + 1;  // the zero is converted too
}

template <typename Unit, typename Out>
int deliver(const std::basic_string<Unit>& converted, Out* target, int targetSize) {
  if (converted.size() > static_cast<size_t>(INT32_MAX)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const int needed = static_cast<int>(converted.size());
  if (targetSize == 0) return needed;
  if (needed > targetSize) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  for (int i = 0; i < needed; ++i) target[i] = static_cast<Out>(converted[static_cast<size_t>(i)]);
  return needed;
}

}  // namespace

extern "C" {

int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideCount, LPSTR multi,
                               int multiSize, LPCSTR defaultChar, LPBOOL usedDefaultChar) {
  // The UTF-8 code page takes no default character, as on Windows.
  const bool badDefault =
      codePage == CP_UTF8 && (defaultChar != nullptr || usedDefaultChar != nullptr);
  if (!knownCodePage(codePage) || wide == nullptr || wideCount == 0 || wideCount < -1 ||
      multiSize < 0 || (multiSize > 0 && multi == nullptr) ||
      (flags & ~WC_ERR_INVALID_CHARS) != 0 || badDefault) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string converted;
  bool clean = toUtf8(wide, measure(wide, wideCount), converted);
  if (!clean && (flags & WC_ERR_INVALID_CHARS) != 0) {
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return 0;
  }
  if (usedDefaultChar != nullptr) *usedDefaultChar = clean ? FALSE : TRUE;
  return deliver(converted, multi, multiSize);
}

int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multi, int multiCount,
                               LPWSTR wide, int wideCount) {
  if (!knownCodePage(codePage) || multi == nullptr || multiCount == 0 || multiCount < -1 ||
      wideCount < 0 || (wideCount > 0 && wide == nullptr) || (flags & ~MB_ERR_INVALID_CHARS) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::string_view bytes(multi, measure(multi, multiCount));
  std::u16string converted;
  bool clean = true;
  for (size_t i = 0; i < bytes.size();) {
    char32_t c = nextCodePoint(bytes, i, clean);
    if (c >= 0x10000) {
      converted += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      converted += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      converted += static_cast<char16_t>(c);
    }
  }
  if (!clean && (flags & MB_ERR_INVALID_CHARS) != 0) {
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return 0;
  }
  return deliver(converted, wide, wideCount);
}

}  // extern "C"
