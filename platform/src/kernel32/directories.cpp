// The Windows directory and the current directory.
#include <unistd.h>

#include <cerrno>
#include <vector>

#include <windows.h>

#include "text_out.h"

extern "C" {

// POSIX has no Windows directory; WINDIR names one when set, otherwise the system's
// configuration folder /etc stands in.
UINT WINAPI GetWindowsDirectoryA(LPSTR buffer, UINT size) {
  char value[MAX_PATH];
  DWORD length = GetEnvironmentVariableA("WINDIR", value, sizeof value);
  const char* directory = (length > 0 && length < sizeof value) ? value : "/etc";
  return velt::platform::copyOrNeededSize(directory, buffer, size);
}

DWORD WINAPI GetCurrentDirectoryA(DWORD size, LPSTR buffer) {
  std::vector<char> path(4096);
  while (getcwd(path.data(), path.size()) == nullptr) {
    if (errno != ERANGE) {
      SetLastError(ERROR_PATH_NOT_FOUND);
      return 0;
    }
    path.resize(path.size() * 2);
  }
  return velt::platform::copyOrNeededSize(path.data(), buffer, size);
}

}  // extern "C"
