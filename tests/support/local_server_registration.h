// A class's local server entered in the registry the process uses, as an installation enters it.
#pragma once

#include <objbase.h>
#include <windows.h>

#include <owners/unique_handle.h>
#include <owners/utf_text.h>

#include <string>

namespace velt::test {

// ERROR_SUCCESS once HKCR\CLSID\{clsid}\LocalServer32 names `path`.
inline LSTATUS registerLocalServer(REFCLSID clsid, const std::string& path) {
  OLECHAR text[39] = {};
  StringFromGUID2(clsid, text, 39);
  const std::string name = "CLSID\\" + velt::utf8FromUtf16(text) + "\\LocalServer32";
  velt::UniqueRegistryKey key;
  LSTATUS status = RegCreateKeyExA(HKEY_CLASSES_ROOT, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                   nullptr, key.put(), nullptr);
  if (status != ERROR_SUCCESS) return status;
  return RegSetValueExA(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                        static_cast<DWORD>(path.size() + 1));
}

}  // namespace velt::test
