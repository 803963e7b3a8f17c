#include "created_java_vm.h"

#include <windows.h>

#include "entry_point.h"
#include "process_state.h"

namespace velt::jvm {

JavaVM* createdJavaVM() {
  if (runtimeLibrary == nullptr) return nullptr;
  typedef jint(JNICALL * GetCreatedJavaVMsFunction)(JavaVM**, jsize, jsize*);
  auto getCreatedJavaVMs = entryPointAs<GetCreatedJavaVMsFunction>(
      GetProcAddress(runtimeLibrary, "JNI_GetCreatedJavaVMs"));
  if (getCreatedJavaVMs == nullptr) return nullptr;
  JavaVM* vm = nullptr;
  jsize count = 0;
  if (getCreatedJavaVMs(&vm, 1, &count) != JNI_OK || count < 1) return nullptr;
  return vm;
}

}  // namespace velt::jvm
