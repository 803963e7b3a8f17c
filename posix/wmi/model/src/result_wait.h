// The timeouts of the semisynchronous results: milliseconds, WBEM_INFINITE to wait for good,
// WBEM_NO_WAIT (0) to look only.
#pragma once

#include <wbemcli.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace velt::wmi::detail {

inline bool validTimeout(LONG timeout) { return timeout >= 0 || timeout == LONG(WBEM_INFINITE); }

// Whether `ready` came true before the timeout.
template <typename Ready>
bool waitFor(std::unique_lock<std::mutex>& lock, std::condition_variable& changed, LONG timeout,
             Ready ready) {
  if (timeout == LONG(WBEM_INFINITE)) {
    changed.wait(lock, ready);
    return true;
  }
  return changed.wait_for(lock, std::chrono::milliseconds(timeout), ready);
}

}  // namespace velt::wmi::detail
