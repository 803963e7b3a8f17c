// Removes a registry key with everything below it. The registry deletes only keys without
// subkeys, so the deepest go first.
#pragma once

#include <windows.h>

#include "owners/unique_handle.h"

namespace velt {

// A key name holds up to 255 characters; in a multi-byte code page (UTF-8 on POSIX) each may
// take three bytes.
inline constexpr DWORD kRegistryKeyNameBytes = 256 * 3;

// The system's error code: that of opening parent\name when it cannot be opened
// (ERROR_FILE_NOT_FOUND when it does not exist), of the first failing subkey, or of the
// final RegDeleteKeyA.
inline LSTATUS deleteRegistryTree(HKEY parent, const char* name) {
  {
    UniqueRegistryKey opened;
    const LSTATUS status = RegOpenKeyExA(parent, name, 0, KEY_ALL_ACCESS, opened.put());
    if (status != ERROR_SUCCESS) return status;
    for (;;) {
      // Index 0 every time: each subkey found is gone before the next enumeration.
      char subkeyName[kRegistryKeyNameBytes];
      DWORD nameSize = kRegistryKeyNameBytes;
      if (RegEnumKeyExA(opened.get(), 0, subkeyName, &nameSize, nullptr, nullptr, nullptr,
                        nullptr) != ERROR_SUCCESS) {
        break;
      }
      const LSTATUS removed = deleteRegistryTree(opened.get(), subkeyName);
      if (removed != ERROR_SUCCESS) return removed;
    }
  }
  return RegDeleteKeyA(parent, name);
}

}  // namespace velt
