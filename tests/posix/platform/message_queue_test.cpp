#include <gtest/gtest.h>
#include <windows.h>
#include <winplatform/posix_hooks.h>

#include <atomic>
#include <future>
#include <thread>
#include <vector>

namespace {

TEST(MessageQueueTest, PostingNeedsAQueueThenMessagesFromManyThreadsArriveAndQuitEndsTheLoop) {
  std::atomic<DWORD> loopThread{0};
  std::promise<void> idKnown;
  std::promise<void> triedWithoutQueue;
  std::promise<void> queueReady;
  std::vector<WPARAM> received;
  int quitCode = -1;
  std::thread loop([&] {
    loopThread = GetCurrentThreadId();
    idKnown.set_value();
    triedWithoutQueue.get_future().wait();
    VeltCreateThreadMessageQueue();
    queueReady.set_value();
    MSG msg;
    BOOL result;
    while ((result = GetMessageA(&msg, nullptr, 0, 0)) > 0) {
      received.push_back(msg.wParam);
      DispatchMessageA(&msg);
    }
    quitCode = static_cast<int>(msg.wParam);
  });
  idKnown.get_future().wait();
  EXPECT_FALSE(PostThreadMessageA(loopThread, WM_USER, 0, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_THREAD_ID));
  triedWithoutQueue.set_value();
  queueReady.get_future().wait();
  std::vector<std::thread> posters;
  for (int t = 0; t < 4; ++t) {
    posters.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) {
        EXPECT_TRUE(PostThreadMessageA(loopThread, WM_USER, static_cast<WPARAM>(t * 100 + i), 0));
      }
    });
  }
  for (auto& poster : posters) poster.join();
  PostThreadMessageA(loopThread, WM_QUIT, 3, 0);
  loop.join();
  EXPECT_EQ(received.size(), 200u);
  EXPECT_EQ(quitCode, 3);
  EXPECT_FALSE(PostThreadMessageA(loopThread, WM_USER, 0, 0)) << "the queue ends with its thread";
}

TEST(MessageQueueTest, PeekAndFilters) {
  MSG msg;
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));  // creates the queue
  DWORD self = GetCurrentThreadId();
  PostThreadMessageA(self, WM_USER + 1, 1, 0);
  PostThreadMessageA(self, WM_USER + 2, 2, 0);
  PostThreadMessageA(self, WM_QUIT, 9, 0);
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_USER + 2, WM_USER + 2, PM_NOREMOVE));
  EXPECT_EQ(msg.message, WM_USER + 2);
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, WM_USER + 1);
  EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), TRUE);
  EXPECT_EQ(msg.message, WM_USER + 2);
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE))
      << "WM_QUIT passes any filter";
  EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), FALSE);
  EXPECT_EQ(msg.message, WM_QUIT);
  EXPECT_EQ(msg.wParam, 9u);
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(GetMessageA(&msg, reinterpret_cast<HWND>(&msg), 0, 0), -1);
}

}  // namespace
