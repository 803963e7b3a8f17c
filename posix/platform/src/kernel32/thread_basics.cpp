// Thread identity and the per-thread last error.
#include <unistd.h>

#include <windows.h>

namespace {
thread_local DWORD lastError = ERROR_SUCCESS;
thread_local DWORD cachedThreadId = 0;
}  // namespace

extern "C" {

// The kernel's thread id: unique among live threads of the system and below 2^22 by default,
// so it fits the 32-bit DWORD Windows code expects.
DWORD WINAPI GetCurrentThreadId(void) {
  if (cachedThreadId == 0) cachedThreadId = static_cast<DWORD>(gettid());
  return cachedThreadId;
}

DWORD WINAPI GetLastError(void) { return lastError; }
void WINAPI SetLastError(DWORD code) { lastError = code; }

}  // extern "C"
