// The sibling library, which the Java side's natives ask for the WMI context of their thread.
#include <jvm/JvmServices.h>

#include "entry_point.h"
#include "platform_names.h"
#include "process_state.h"
#include "trace/trace.h"

using namespace velt::jvm;

int loadSiblingLibrary() {
  HMODULE previous = siblingLibrary;

  // The search starts beside the executable, so a library in the parent of the program's
  // directory comes first.
  trace(kTraceClass, "Loading ..\\qelvor.dll", 0);
  HMODULE library = LoadLibraryA(kSiblingInParent);
  if (library == nullptr) {
    trace(kTraceClass, "Loading ..\\qelvor", 0);
    library = LoadLibraryA(kSiblingByName);
  }
  siblingLibrary = library;
  // A second start attempt loads it again; the earlier handle is not needed any more.
  if (previous != nullptr) FreeLibrary(previous);
  if (library == nullptr) {
    pfnSetThreadWbemContext = nullptr;
    trace(kTraceClass, "Could not load library qelvor.dll", 0);
    return 0;
  }

  pfnSetThreadWbemContext = entryPointAs<QELVOR_SetThreadWbemContextFunction>(
      GetProcAddress(library, "QELVOR_SetThreadWbemContext"));
  if (pfnSetThreadWbemContext == nullptr) {
    trace(kTraceClass, "Could not find QELVOR_SetThreadWbemContext in qelvor.dll", 0);
    return 0;
  }
  return 1;
}

void unloadSiblingLibrary() {
  trace(kTraceClass, "Unloading qelvor.dll", 0);
  if (siblingLibrary != nullptr) FreeLibrary(siblingLibrary);
  siblingLibrary = nullptr;
  pfnSetThreadWbemContext = nullptr;
}

std::string velt::jvm::siblingLibraryPath() {
  if (siblingLibrary == nullptr) return std::string();
  char path[MAX_PATH] = {};
  DWORD length = GetModuleFileNameA(siblingLibrary, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::string();
  return std::string(path, length);
}
