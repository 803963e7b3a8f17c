// Environment variables live in the process environment itself, so the Java VM and every
// library loaded later see changes. Names are compared case-sensitively, as POSIX does.
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include <windows.h>

namespace {
std::mutex environmentMutex;

bool validName(LPCSTR name) {
  return name != nullptr && *name != '\0' && std::strchr(name, '=') == nullptr;
}
}  // namespace

extern "C" {

DWORD WINAPI GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size) {
  if (!validName(name)) {
    SetLastError(ERROR_ENVVAR_NOT_FOUND);
    return 0;
  }
  std::lock_guard lock(environmentMutex);
  const char* value = std::getenv(name);
  if (value == nullptr) {
    SetLastError(ERROR_ENVVAR_NOT_FOUND);
    return 0;
  }
  size_t length = std::strlen(value);
  if (length == 0) {
    SetLastError(ERROR_SUCCESS);  // tells an empty value from a missing one
    if (buffer != nullptr && size > 0) buffer[0] = '\0';
    return 0;
  }
  if (buffer == nullptr || length + 1 > size) return static_cast<DWORD>(length + 1);
  std::memcpy(buffer, value, length + 1);
  return static_cast<DWORD>(length);
}

BOOL WINAPI SetEnvironmentVariableA(LPCSTR name, LPCSTR value) {
  if (!validName(name)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard lock(environmentMutex);
  int result = value == nullptr ? unsetenv(name) : setenv(name, value, 1);
  if (result != 0) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  return TRUE;
}

// %NAME% becomes the variable's value; a name that is not set, and a % without its closing
// partner, stay as written, as on Windows.
DWORD WINAPI ExpandEnvironmentStringsA(LPCSTR source, LPSTR buffer, DWORD size) {
  if (source == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string expanded;
  {
    std::lock_guard lock(environmentMutex);
    for (const char* at = source; *at != '\0';) {
      const char* close = *at == '%' ? std::strchr(at + 1, '%') : nullptr;
      if (close == nullptr) {
        expanded += *at++;
        continue;
      }
      const std::string name(at + 1, close);
      const char* value = name.empty() ? nullptr : std::getenv(name.c_str());
      if (value != nullptr) {
        expanded += value;
      } else {
        expanded.append(at, close + 1);
      }
      at = close + 1;
    }
  }
  const DWORD needed = static_cast<DWORD>(expanded.size() + 1);
  if (buffer != nullptr && needed <= size) std::memcpy(buffer, expanded.c_str(), needed);
  return needed;
}

}  // extern "C"
