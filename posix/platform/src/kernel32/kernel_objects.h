// Kernel objects behind HANDLE values (today the file searches) live in one table, so that a
// stale or foreign handle is refused instead of dereferenced.
#pragma once

#include <windows.h>

#include <memory>

namespace velt::platform {

class KernelObject {
 public:
  virtual ~KernelObject() = default;
};

HANDLE insertHandle(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> lookupHandle(HANDLE handle);
std::shared_ptr<KernelObject> removeHandle(HANDLE handle);

template <typename T>
std::shared_ptr<T> lookupHandleAs(HANDLE handle) {
  return std::dynamic_pointer_cast<T>(lookupHandle(handle));
}

}  // namespace velt::platform
