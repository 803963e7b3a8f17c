#pragma once

#include <windows.h>

namespace velt::jvm {

// GetProcAddress answers a generic function pointer; the entry point's real type is known only
// to the caller. The detour through void(*)() is the conversion compilers accept as intended.
template <typename Function>
Function entryPointAs(FARPROC address) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

}  // namespace velt::jvm
