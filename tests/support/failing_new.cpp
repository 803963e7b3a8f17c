#include "failing_new.h"

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace {

std::atomic<long> g_allocationsBeforeFailure{-1};

bool takeArmedFailure() {
  long left = g_allocationsBeforeFailure.load();
  while (left >= 0) {
    if (g_allocationsBeforeFailure.compare_exchange_weak(left, left - 1)) return left == 0;
  }
  return false;
}

void* allocate(std::size_t size) noexcept {
  if (takeArmedFailure()) return nullptr;
  return std::malloc(size != 0 ? size : 1);
}

void* allocateOrThrow(std::size_t size) {
  void* memory = allocate(size);
  if (memory == nullptr) throw std::bad_alloc();
  return memory;
}

}  // namespace

namespace velt::test {

void failAllocation(long index) { g_allocationsBeforeFailure = index; }

bool allocationFailurePending() { return g_allocationsBeforeFailure.load() >= 0; }

}  // namespace velt::test

void* operator new(std::size_t size) { return allocateOrThrow(size); }
void* operator new[](std::size_t size) { return allocateOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }

void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
