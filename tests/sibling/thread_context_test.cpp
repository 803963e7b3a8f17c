#include <qelvor/qelvor.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

namespace {

IWbemContext* contextNumber(uintptr_t n) { return reinterpret_cast<IWbemContext*>(n); }

TEST(ThreadContext, EachThreadKeepsItsOwnContext) {
  QELVOR_SetThreadWbemContext(contextNumber(1));
  std::atomic<int> faults = 0;
  std::vector<std::thread> threads;
  for (uintptr_t t = 2; t < 10; ++t) {
    threads.emplace_back([t, &faults] {
      if (QELVOR_GetThreadWbemContext() != nullptr) ++faults;  // a new thread starts empty
      for (uintptr_t round = 0; round < 1000; ++round) {
        QELVOR_SetThreadWbemContext(contextNumber(t * 10000 + round));
        if (QELVOR_GetThreadWbemContext() != contextNumber(t * 10000 + round)) ++faults;
      }
      QELVOR_SetThreadWbemContext(nullptr);
      if (QELVOR_GetThreadWbemContext() != nullptr) ++faults;
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(faults.load(), 0);
  EXPECT_EQ(QELVOR_GetThreadWbemContext(), contextNumber(1));
  QELVOR_SetThreadWbemContext(nullptr);
  EXPECT_EQ(QELVOR_GetThreadWbemContext(), nullptr);
}

}  // namespace
