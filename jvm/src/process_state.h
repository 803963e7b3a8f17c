// What the runtime services hold for the whole process, beside the JvmServices object.
#pragma once

#include <windows.h>

#include <qelvor/qelvor.h>

namespace velt::jvm {

// The Java runtime library; once loaded, every later search is a plain look-up in it.
extern HMODULE runtimeLibrary;
extern HMODULE siblingLibrary;
// Set before the VM starts and unchanged while it runs, so the attaching threads only read it.
extern QELVOR_SetThreadWbemContextFunction pfnSetThreadWbemContext;

inline constexpr const char* kTraceClass = "JvmServices";

}  // namespace velt::jvm
