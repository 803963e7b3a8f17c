#include "failing_nothrow_new.h"

#include <atomic>
#include <cstddef>
#include <new>

namespace {

std::atomic<int> g_failuresPending{0};

bool takeArmedFailure() {
  int pending = g_failuresPending.load();
  while (pending > 0) {
    if (g_failuresPending.compare_exchange_weak(pending, pending - 1)) return true;
  }
  return false;
}

}  // namespace

namespace velt::test {

void failNextNothrowAllocations(int count) { g_failuresPending = count; }

int nothrowFailuresPending() { return g_failuresPending; }

}  // namespace velt::test

// The memory comes from the ordinary operator new, so the ordinary delete still matches it.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  if (takeArmedFailure()) return nullptr;
  try {
    return ::operator new(size);
  } catch (...) {
    return nullptr;
  }
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  if (takeArmedFailure()) return nullptr;
  try {
    return ::operator new[](size);
  } catch (...) {
    return nullptr;
  }
}
