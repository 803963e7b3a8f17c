// What the runtime services hold for the whole process, beside the JvmServices object.
#pragma once

#include <windows.h>

#include <string>

#include <qelvor/qelvor.h>

namespace velt::jvm {

// The Java runtime library; once loaded, every later search is a plain look-up in it.
extern HMODULE runtimeLibrary;
extern HMODULE siblingLibrary;
// Set before the VM starts and unchanged while it runs, so the attaching threads only read it.
extern QELVOR_SetThreadWbemContextFunction pfnSetThreadWbemContext;

// The full path of the sibling library file loaded, or empty. Java binds its natives to this
// very file: a second copy would keep thread contexts of its own that the server never sets.
std::string siblingLibraryPath();

inline constexpr const char* kTraceClass = "JvmServices";

}  // namespace velt::jvm
