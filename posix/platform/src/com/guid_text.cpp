// GUIDs as registry text: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper-case hex.
#include <cstdio>

#include <objbase.h>

namespace {

constexpr int guidChars = 38;

void formatGuid(REFGUID guid, OLECHAR* out) {
  char text[guidChars + 1];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", guid.Data1,
                guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3],
                guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
  for (int i = 0; i <= guidChars; ++i) out[i] = static_cast<OLECHAR>(text[i]);
}

int hexValue(OLECHAR c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// Reads `digits` hex digits at text[position]; false on anything else.
bool readHex(LPCOLESTR text, int position, int digits, uint64_t& value) {
  value = 0;
  for (int i = 0; i < digits; ++i) {
    int digit = hexValue(text[position + i]);
    if (digit < 0) return false;
    value = (value << 4) | static_cast<uint64_t>(digit);
  }
  return true;
}

HRESULT allocateText(REFGUID guid, LPOLESTR* text) {
  if (text == nullptr) return E_INVALIDARG;
  *text = static_cast<LPOLESTR>(CoTaskMemAlloc((guidChars + 1) * sizeof(OLECHAR)));
  if (*text == nullptr) return E_OUTOFMEMORY;
  formatGuid(guid, *text);
  return S_OK;
}

}  // namespace

extern "C" {

int STDAPICALLTYPE StringFromGUID2(REFGUID guid, LPOLESTR text, int maxChars) {
  if (text == nullptr || maxChars < guidChars + 1) return 0;
  formatGuid(guid, text);
  return guidChars + 1;
}

HRESULT STDAPICALLTYPE StringFromCLSID(REFCLSID clsid, LPOLESTR* text) {
  return allocateText(clsid, text);
}

HRESULT STDAPICALLTYPE CLSIDFromString(LPCOLESTR text, LPCLSID clsid) {
  if (clsid == nullptr) return E_INVALIDARG;
  if (text == nullptr) {
    *clsid = CLSID_NULL;
    return S_OK;
  }
  for (int i = 0; i < guidChars; ++i) {
    if (text[i] == 0) return CO_E_CLASSSTRING;
  }
  if (text[guidChars] != 0 || text[0] != u'{' || text[9] != u'-' || text[14] != u'-' ||
      text[19] != u'-' || text[24] != u'-' || text[37] != u'}') {
    return CO_E_CLASSSTRING;
  }
  CLSID parsed{};
  uint64_t value = 0;
  if (!readHex(text, 1, 8, value)) return CO_E_CLASSSTRING;
  parsed.Data1 = static_cast<DWORD>(value);
  if (!readHex(text, 10, 4, value)) return CO_E_CLASSSTRING;
  parsed.Data2 = static_cast<WORD>(value);
  if (!readHex(text, 15, 4, value)) return CO_E_CLASSSTRING;
  parsed.Data3 = static_cast<WORD>(value);
  static constexpr int bytePositions[8] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (int i = 0; i < 8; ++i) {
    if (!readHex(text, bytePositions[i], 2, value)) return CO_E_CLASSSTRING;
    parsed.Data4[i] = static_cast<BYTE>(value);
  }
  *clsid = parsed;
  return S_OK;
}

}  // extern "C"
