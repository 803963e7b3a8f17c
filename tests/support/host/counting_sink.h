// A client sink that counts what arrives and keeps nothing, so that long enumerations and
// event streams cost the sink no memory; a request that completes on another thread is
// waited for.
#pragma once

#include <wbemcli.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace velt::host {

class CountingSink final : public IWbemObjectSink {
 public:
  CountingSink() = default;
  virtual ~CountingSink() = default;

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IWbemObjectSink)) {
      *out = static_cast<IWbemObjectSink*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++m_references; }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG left = --m_references;
    if (left == 0) delete this;
    return left;
  }

  STDMETHODIMP Indicate(LONG count, IWbemClassObject** objects) override {
    if (count > 0 && objects != nullptr) m_indicated.fetch_add(count, std::memory_order_relaxed);
    return WBEM_S_NO_ERROR;
  }
  STDMETHODIMP SetStatus(LONG flags, HRESULT status, BSTR, IWbemClassObject*) override {
    if (flags == WBEM_STATUS_COMPLETE) {
      m_lastStatus.store(status, std::memory_order_relaxed);
      {
        std::lock_guard lock(m_mutex);
        m_completions.fetch_add(1, std::memory_order_relaxed);
      }
      m_completed.notify_all();
    }
    return WBEM_S_NO_ERROR;
  }

  long indicated() const { return m_indicated.load(); }
  long completions() const { return m_completions.load(); }
  HRESULT lastStatus() const { return m_lastStatus.load(); }
  // False when fewer than `count` final statuses came within `wait`.
  bool waitForCompletions(long count, std::chrono::milliseconds wait) {
    std::unique_lock lock(m_mutex);
    return m_completed.wait_for(lock, wait, [&] { return m_completions.load() >= count; });
  }
  void reset() {
    m_indicated = 0;
    m_completions = 0;
    m_lastStatus = S_OK;
  }

 private:
  std::atomic<ULONG> m_references{1};
  std::atomic<long> m_indicated{0};
  std::atomic<long> m_completions{0};
  std::atomic<HRESULT> m_lastStatus{S_OK};
  std::mutex m_mutex;
  std::condition_variable m_completed;
};

}  // namespace velt::host
