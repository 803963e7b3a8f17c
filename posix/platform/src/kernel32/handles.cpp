#include <mutex>
#include <unordered_map>

#include "kernel_objects.h"

namespace velt::platform {

namespace {

struct HandleTable {
  std::mutex mutex;
  std::unordered_map<ULONG_PTR, std::shared_ptr<KernelObject>> objects;
  // Handles are never reused, so a closed handle can never reach a newer object.
  ULONG_PTR next = 0x1000;
};

HandleTable& table() {
  static auto* handles = new HandleTable;  // outlives every thread that may still close one
  return *handles;
}

}  // namespace

HANDLE insertHandle(std::shared_ptr<KernelObject> object) {
  auto& handles = table();
  std::lock_guard lock(handles.mutex);
  ULONG_PTR value = handles.next;
  handles.next += 4;
  handles.objects.emplace(value, std::move(object));
  return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> lookupHandle(HANDLE handle) {
  auto& handles = table();
  std::lock_guard lock(handles.mutex);
  auto found = handles.objects.find(reinterpret_cast<ULONG_PTR>(handle));
  return found == handles.objects.end() ? nullptr : found->second;
}

std::shared_ptr<KernelObject> removeHandle(HANDLE handle) {
  auto& handles = table();
  std::lock_guard lock(handles.mutex);
  auto found = handles.objects.find(reinterpret_cast<ULONG_PTR>(handle));
  if (found == handles.objects.end()) return nullptr;
  auto object = std::move(found->second);
  handles.objects.erase(found);
  return object;
}

}  // namespace velt::platform
