#include "process_state.h"

namespace velt::jvm {

HMODULE runtimeLibrary = nullptr;
HMODULE siblingLibrary = nullptr;
QELVOR_SetThreadWbemContextFunction pfnSetThreadWbemContext = nullptr;

}  // namespace velt::jvm
