// Critical sections are recursive on Windows: the owning thread may enter again.
#include <mutex>
#include <new>

#include <windows.h>

namespace {

static_assert(sizeof(std::recursive_mutex) <= sizeof(CRITICAL_SECTION::opaque));
static_assert(alignof(std::recursive_mutex) <= 16);

std::recursive_mutex& mutexOf(LPCRITICAL_SECTION cs) {
  return *std::launder(reinterpret_cast<std::recursive_mutex*>(cs->opaque));
}

}  // namespace

extern "C" {

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION cs) {
  new (cs->opaque) std::recursive_mutex;
  cs->initialized = 1;
}

void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION cs) {
  if (cs->initialized == 0) return;
  mutexOf(cs).~recursive_mutex();
  cs->initialized = 0;
}

void WINAPI EnterCriticalSection(LPCRITICAL_SECTION cs) { mutexOf(cs).lock(); }
void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION cs) { mutexOf(cs).unlock(); }

}  // extern "C"
