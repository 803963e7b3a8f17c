// One context slot per thread: every WMI call runs on its own thread from attach to detach,
// so a thread-local slot needs no lock and never shows one caller's context to another.
#include <qelvor/qelvor.h>

namespace {
thread_local IWbemContext* currentContext = nullptr;
}

extern "C" {

void QELVOR_SetThreadWbemContext(IWbemContext* context) { currentContext = context; }

IWbemContext* QELVOR_GetThreadWbemContext(void) { return currentContext; }
}
