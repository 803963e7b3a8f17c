// Per-thread message queues (user32). There are no windows: every message is a thread
// message. A thread gets its queue at its first GetMessageA/PeekMessageA, or
// earlier through VeltCreateThreadMessageQueue; the queue goes with the thread.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>

#include <windows.h>
#include <winplatform/posix_hooks.h>

namespace {

struct MessageQueue {
  std::mutex mutex;
  std::condition_variable arrived;
  std::deque<MSG> messages;
};

struct QueueDirectory {
  std::mutex mutex;
  std::unordered_map<DWORD, std::shared_ptr<MessageQueue>> queues;
};

QueueDirectory& directory() {
  static auto* queues = new QueueDirectory;  // threads may end after static destruction
  return *queues;
}

// Owns the calling thread's queue and withdraws it when the thread ends, so a later thread
// that is given the same id does not inherit it.
struct QueueOwner {
  std::shared_ptr<MessageQueue> queue;
  DWORD threadId = 0;
  ~QueueOwner() {
    if (!queue) return;
    auto& queues = directory();
    std::lock_guard lock(queues.mutex);
    queues.queues.erase(threadId);
  }
};
thread_local QueueOwner ownQueue;

MessageQueue& callingThreadQueue() {
  if (!ownQueue.queue) {
    ownQueue.queue = std::make_shared<MessageQueue>();
    ownQueue.threadId = GetCurrentThreadId();
    auto& queues = directory();
    std::lock_guard lock(queues.mutex);
    queues.queues[ownQueue.threadId] = ownQueue.queue;
  }
  return *ownQueue.queue;
}

DWORD tickCount() {
  using namespace std::chrono;
  return static_cast<DWORD>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

bool wanted(UINT message, UINT filterMin, UINT filterMax) {
  // WM_QUIT passes every filter, as on Windows.
  return (filterMin == 0 && filterMax == 0) || message == WM_QUIT ||
         (message >= filterMin && message <= filterMax);
}

// Takes (or, without `remove`, copies) the first wanted message; queue lock held.
bool takeMessage(MessageQueue& queue, LPMSG msg, UINT filterMin, UINT filterMax, bool remove) {
  for (auto it = queue.messages.begin(); it != queue.messages.end(); ++it) {
    if (!wanted(it->message, filterMin, filterMax)) continue;
    *msg = *it;
    if (remove) queue.messages.erase(it);
    return true;
  }
  return false;
}

bool validRequest(LPMSG msg, HWND hwnd) {
  if (hwnd != nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  if (msg == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  return true;
}

}  // namespace

extern "C" {

void VeltCreateThreadMessageQueue(void) { callingThreadQueue(); }

BOOL WINAPI GetMessageA(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax) {
  if (!validRequest(msg, hwnd)) return -1;
  MessageQueue& queue = callingThreadQueue();
  std::unique_lock lock(queue.mutex);
  queue.arrived.wait(lock, [&] { return takeMessage(queue, msg, filterMin, filterMax, true); });
  return msg->message == WM_QUIT ? FALSE : TRUE;
}

BOOL WINAPI PeekMessageA(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeMsg) {
  if (!validRequest(msg, hwnd)) return FALSE;
  MessageQueue& queue = callingThreadQueue();
  std::lock_guard lock(queue.mutex);
  return takeMessage(queue, msg, filterMin, filterMax, (removeMsg & PM_REMOVE) != 0) ? TRUE : FALSE;
}

// No windows exist, so there is no window procedure to call.
LRESULT WINAPI DispatchMessageA(const MSG*) { return 0; }

BOOL WINAPI PostThreadMessageA(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<MessageQueue> queue;
  {
    auto& queues = directory();
    std::lock_guard lock(queues.mutex);
    auto found = queues.queues.find(threadId);
    if (found != queues.queues.end()) queue = found->second;
  }
  if (!queue) {
    SetLastError(ERROR_INVALID_THREAD_ID);
    return FALSE;
  }
  MSG posted{};
  posted.message = message;
  posted.wParam = wParam;
  posted.lParam = lParam;
  posted.time = tickCount();
  {
    std::lock_guard lock(queue->mutex);
    queue->messages.push_back(posted);
  }
  queue->arrived.notify_all();
  return TRUE;
}

}  // extern "C"
