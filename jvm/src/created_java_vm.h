#pragma once

#include <jni.h>

namespace velt::jvm {

// The VM that the loaded runtime library already runs in this process, or null. A process
// can create only one VM, and it outlives every JvmServices object.
JavaVM* createdJavaVM();

}  // namespace velt::jvm
