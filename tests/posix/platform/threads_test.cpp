#include <gtest/gtest.h>
#include <windows.h>

#include <thread>
#include <vector>

namespace {

template <typename Body>
void runConcurrently(int threads, Body body) {
  std::vector<std::thread> workers;
  for (int i = 0; i < threads; ++i) workers.emplace_back(body);
  for (auto& worker : workers) worker.join();
}

TEST(InterlockedTest, CountersStayExactUnderContention) {
  LONG volatile counter = 0;
  LONG volatile viaCompareExchange = 0;
  constexpr int perThread = 20000;
  runConcurrently(4, [&] {
    for (int i = 0; i < perThread; ++i) {
      InterlockedIncrement(&counter);
      InterlockedIncrement(&counter);
      InterlockedDecrement(&counter);
      // The value a failed exchange reports is the next guess: no plain read needed.
      LONG seen = 0;
      for (LONG found;
           (found = InterlockedCompareExchange(&viaCompareExchange, seen + 1, seen)) != seen;) {
        seen = found;
      }
    }
  });
  EXPECT_EQ(counter, 4 * perThread);
  EXPECT_EQ(viaCompareExchange, 4 * perThread);
  EXPECT_EQ(InterlockedExchange(&counter, 7), 4 * perThread);
  EXPECT_EQ(InterlockedCompareExchange(&counter, 9, 8), 7);  // no match: unchanged
  EXPECT_EQ(counter, 7);
}

TEST(CriticalSectionTest, OwnerReentersOthersWait) {
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  EnterCriticalSection(&cs);
  EnterCriticalSection(&cs);  // recursion must not deadlock
  LeaveCriticalSection(&cs);
  LeaveCriticalSection(&cs);

  long shared = 0;
  runConcurrently(4, [&] {
    for (int i = 0; i < 10000; ++i) {
      EnterCriticalSection(&cs);
      ++shared;
      LeaveCriticalSection(&cs);
    }
  });
  EXPECT_EQ(shared, 40000);
  DeleteCriticalSection(&cs);
}

TEST(LastErrorTest, IsPerThread) {
  SetLastError(ERROR_ACCESS_DENIED);
  DWORD seenElsewhere = 1;
  std::thread([&] {
    seenElsewhere = GetLastError();
    SetLastError(ERROR_FILE_NOT_FOUND);
  }).join();
  EXPECT_EQ(seenElsewhere, 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

}  // namespace
