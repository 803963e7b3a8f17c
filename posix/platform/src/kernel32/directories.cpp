// The Windows directory.
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

}  // extern "C"
