// UTF-16 <-> multi-byte conversion. The ANSI code page of this platform is UTF-8, so CP_ACP
// and CP_UTF8 convert alike; unpaired surrogates and malformed bytes become U+FFFD unless
// the caller asks for errors instead.
#include <string>

#include <windows.h>

namespace {

constexpr char32_t replacement = 0xFFFD;

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

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
char32_t decodeUtf8(const unsigned char* in, size_t count, size_t& i, bool& clean) {
  unsigned char lead = in[i];
  int extra = lead < 0x80             ? 0
              : (lead & 0xE0) == 0xC0 ? 1
              : (lead & 0xF0) == 0xE0 ? 2
              : (lead & 0xF8) == 0xF0 ? 3
                                      : -1;
  char32_t c = extra == 0   ? lead
               : extra == 1 ? (lead & 0x1F)
               : extra == 2 ? (lead & 0x0F)
                            : (lead & 0x07);
  bool valid = extra >= 0 && i + static_cast<size_t>(extra) < count;
  for (int k = 1; valid && k <= extra; ++k) {
    unsigned char next = in[i + static_cast<size_t>(k)];
    valid = (next & 0xC0) == 0x80;
    c = (c << 6) | (next & 0x3F);
  }
  static constexpr char32_t minimum[] = {0, 0x80, 0x800, 0x10000};
  valid = valid && c >= minimum[extra] && c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF);
  if (!valid) {
    ++i;
    clean = false;
    return replacement;
  }
  i += static_cast<size_t>(extra) + 1;
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
  const auto* bytes = reinterpret_cast<const unsigned char*>(multi);
  const size_t count = measure(multi, multiCount);
  std::u16string converted;
  bool clean = true;
  for (size_t i = 0; i < count;) {
    char32_t c = decodeUtf8(bytes, count, i, clean);
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
