// OutputDebugStringA: there is no debugger channel on POSIX, so the text goes to a hook that
// tests install and, with VELT_DEBUG_OUTPUT=1, to stderr.
#include <cstdio>
#include <cstring>
#include <mutex>

#include <windows.h>
#include <winplatform/posix_hooks.h>

namespace {
// Recursive so a hook that writes debug output itself does not deadlock.
std::recursive_mutex hookMutex;
VeltDebugOutputHook installedHook = nullptr;
void* hookContext = nullptr;

bool stderrWanted() {
  char value[4];
  DWORD saved = GetLastError();
  DWORD length = GetEnvironmentVariableA("VELT_DEBUG_OUTPUT", value, sizeof value);
  SetLastError(saved);
  return length == 1 && value[0] == '1';
}
}  // namespace

extern "C" {

void VeltSetDebugOutputHook(VeltDebugOutputHook hook, void* context) {
  std::lock_guard lock(hookMutex);
  installedHook = hook;
  hookContext = context;
}

void WINAPI OutputDebugStringA(LPCSTR text) {
  if (text == nullptr) return;
  std::lock_guard lock(hookMutex);
  if (installedHook != nullptr) installedHook(text, hookContext);
  if (stderrWanted()) {
    std::fwrite(text, 1, std::strlen(text), stderr);
    std::fflush(stderr);
  }
}

}  // extern "C"
