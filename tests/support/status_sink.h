// An object sink that keeps what RecordingSink does not: every final status with its status
// object, and how many objects had come when the first arrived. Its Indicate can be slow, and
// can answer a failure.
#pragma once

#include <owners/com_ptr.h>

#include <wbemcli.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "wmi_model/com_object.h"

namespace velt::wmi::test {

class StatusSink final : public detail::ComObject<IWbemObjectSink, IID_IWbemObjectSink> {
 public:
  explicit StatusSink(HRESULT answer = WBEM_S_NO_ERROR, std::chrono::milliseconds delay = {})
      : m_answer(answer), m_delay(delay) {}

  STDMETHODIMP Indicate(LONG count, IWbemClassObject**) override {
    std::this_thread::sleep_for(m_delay);
    arrived += count;
    return m_answer;
  }
  STDMETHODIMP SetStatus(LONG flags, HRESULT status, BSTR, IWbemClassObject* object) override {
    if (flags != WBEM_STATUS_COMPLETE) return WBEM_S_NO_ERROR;
    std::lock_guard lock(m_mutex);
    if (m_finals.empty()) {
      arrivedAtFinal = arrived.load();
      m_object = ComPtr<IWbemClassObject>::share(object);
    }
    m_finals.push_back(status);
    m_done.notify_all();
    return WBEM_S_NO_ERROR;
  }
  // The first final status (E_UNEXPECTED when none came within `wait`) and its status object.
  std::pair<HRESULT, ComPtr<IWbemClassObject>> wait(
      std::chrono::seconds wait = std::chrono::seconds(20)) {
    std::unique_lock lock(m_mutex);
    if (!m_done.wait_for(lock, wait, [&] { return !m_finals.empty(); })) return {E_UNEXPECTED, {}};
    return {m_finals.front(), m_object};
  }
  std::vector<HRESULT> finals() {
    std::lock_guard lock(m_mutex);
    return m_finals;
  }

  std::atomic<long> arrived{0};
  std::atomic<long> arrivedAtFinal{-1};

 private:
  const HRESULT m_answer;
  const std::chrono::milliseconds m_delay;
  std::mutex m_mutex;
  std::condition_variable m_done;
  std::vector<HRESULT> m_finals;
  ComPtr<IWbemClassObject> m_object;
};

}  // namespace velt::wmi::test
