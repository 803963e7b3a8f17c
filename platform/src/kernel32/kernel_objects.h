// Kernel objects behind HANDLE values: threads, events and file searches share one table so
// that a stale or foreign handle is refused instead of dereferenced.
#pragma once

#include <windows.h>

#include <memory>

namespace velt::platform {

class KernelObject {
 public:
  virtual ~KernelObject() = default;
  // Waits until the object is signalled; false on timeout. Objects that cannot be waited on
  // answer false at once and set `waitable` to false.
  virtual bool wait(DWORD milliseconds, bool& waitable);
};

HANDLE insertHandle(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> lookupHandle(HANDLE handle);
std::shared_ptr<KernelObject> removeHandle(HANDLE handle);

template <typename T>
std::shared_ptr<T> lookupHandleAs(HANDLE handle) {
  return std::dynamic_pointer_cast<T>(lookupHandle(handle));
}

}  // namespace velt::platform
