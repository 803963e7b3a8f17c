// Per-thread apartments and the process-wide security call.
#include <atomic>

#include <winplatform/posix_hooks.h>

#include "../remoting/activation.h"
#include "com_state.h"

namespace {

struct Apartment {
  unsigned initCount = 0;
  bool multithreaded = false;
};
thread_local Apartment apartment;

std::atomic<int> multithreadedMembers{0};
std::atomic<int> threadsInCom{0};
std::atomic<bool> securityInitialised{false};

}  // namespace

namespace velt::platform::com {
bool callingThreadInCom() { return apartment.initCount > 0 || multithreadedMembers.load() > 0; }
void startProcessSecurityAnew() { securityInitialised = false; }
}  // namespace velt::platform::com

extern "C" {

HRESULT STDAPICALLTYPE CoInitializeEx(LPVOID, DWORD coInit) {
  const bool multithreaded = (coInit & COINIT_APARTMENTTHREADED) == 0;
  if (apartment.initCount > 0) {
    if (apartment.multithreaded != multithreaded) return RPC_E_CHANGED_MODE;
    ++apartment.initCount;  // balanced by CoUninitialize like the first call
    return S_FALSE;
  }
  apartment.initCount = 1;
  apartment.multithreaded = multithreaded;
  ++threadsInCom;
  if (multithreaded) ++multithreadedMembers;
  return S_OK;
}

void STDAPICALLTYPE CoUninitialize(void) {
  if (apartment.initCount == 0) return;
  if (--apartment.initCount != 0) return;
  if (apartment.multithreaded) --multithreadedMembers;
  if (--threadsInCom == 0) velt::remoting::closeIdleConnections();
}

// Security is process-wide and set once; the settings themselves have no effect in-process.
HRESULT STDAPICALLTYPE CoInitializeSecurity(PSECURITY_DESCRIPTOR, LONG,
                                            SOLE_AUTHENTICATION_SERVICE*, void*, DWORD, DWORD,
                                            void*, DWORD, void*) {
  if (!velt::platform::com::callingThreadInCom()) return CO_E_NOTINITIALIZED;
  bool expected = false;
  return securityInitialised.compare_exchange_strong(expected, true) ? S_OK : RPC_E_TOO_LATE;
}

void VeltResetComSecurityForTesting(void) { velt::platform::com::startProcessSecurityAnew(); }

}  // extern "C"
