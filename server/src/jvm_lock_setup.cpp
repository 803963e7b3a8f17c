#include "jvm_lock_setup.h"

#include <windows.h>

#include <cstdlib>

#include "provider/proxy_provider.h"

namespace {

unsigned char jvmLockDeletedFlag = 0;

// Runs during static initialisation, before the entry and before any other thread exists.
struct JvmLockSetup {
  JvmLockSetup() {
    InitializeCriticalSection(&CProxyProvider::sm_csJvm);
    std::atexit(deleteJvmLockOnce);
  }
} jvmLockSetup;

}  // namespace

void deleteJvmLockOnce() {
  if (jvmLockDeletedFlag != 0) return;
  jvmLockDeletedFlag = 1;
  DeleteCriticalSection(&CProxyProvider::sm_csJvm);
}

bool jvmLockDeleted() { return jvmLockDeletedFlag != 0; }
