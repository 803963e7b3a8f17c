// A count of work in progress that a thread can wait to see fall to zero, woken by the
// decrement that gets there rather than by a poll.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace velt::remoting {

class PendingCount {
 public:
  void add() { m_count.fetch_add(1); }
  void done() {
    if (m_count.fetch_sub(1) != 1) return;
    // Taking the lock orders this wake after a waiter's check of the count: it cannot be lost
    // between the check and the wait.
    std::lock_guard lock(m_mutex);
    m_zero.notify_all();
  }
  // True when the count was zero before `limit` passed.
  bool waitForZero(std::chrono::steady_clock::duration limit) {
    std::unique_lock lock(m_mutex);
    return m_zero.wait_for(lock, limit, [this] { return m_count.load() <= 0; });
  }

 private:
  std::atomic<int> m_count{0};
  std::mutex m_mutex;
  std::condition_variable m_zero;
};

}  // namespace velt::remoting
