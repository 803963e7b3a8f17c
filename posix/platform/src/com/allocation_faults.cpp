#include "allocation_faults.h"

#include <atomic>

#include "winplatform/posix_hooks.h"

namespace {

std::atomic<LONG> g_failuresAsked{0};

}  // namespace

namespace velt::platform {

bool allocationRefused() {
  LONG left = g_failuresAsked.load(std::memory_order_relaxed);
  while (left > 0) {
    if (g_failuresAsked.compare_exchange_weak(left, left - 1, std::memory_order_relaxed)) {
      return true;
    }
  }
  return false;
}

}  // namespace velt::platform

extern "C" void VeltFailNextOleAllocations(LONG count) {
  g_failuresAsked.store(count > 0 ? count : 0, std::memory_order_relaxed);
}
