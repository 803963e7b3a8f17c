// The sink a request's results arrive in: objects queue up from the provider's threads and
// the client takes them one at a time, so it can print each as soon as it is delivered. A
// watch bounds the queue: a provider may fire faster than anyone can print, and holding
// every event would grow without end, so what does not fit is dropped and counted.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

#include "com_support.h"

namespace veltwmi {

class ResultSink final : public IWbemObjectSink {
 public:
  static ComPtr<ResultSink> create(std::size_t limit = SIZE_MAX) {
    return ComPtr<ResultSink>(new ResultSink(limit));
  }

  enum class Next { kObject, kDone, kTimedOut };
  // The next object, or the final status once every object was taken, or kTimedOut at
  // `until`.
  Next next(ComPtr<IWbemClassObject>& object, HRESULT& status,
            std::chrono::steady_clock::time_point until);
  // Objects that arrived while the queue was full.
  std::size_t dropped() const;
  // The status object that came with the final status (a provider's __ExtendedStatus), if any.
  ComPtr<IWbemClassObject> statusObject() const;

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  STDMETHODIMP Indicate(LONG count, IWbemClassObject** objects) override;
  STDMETHODIMP SetStatus(LONG flags, HRESULT status, BSTR text, IWbemClassObject* object) override;

 private:
  explicit ResultSink(std::size_t limit) : m_limit(limit) {}
  ~ResultSink() = default;

  std::atomic<ULONG> m_refs{1};
  const std::size_t m_limit;
  mutable std::mutex m_mutex;
  std::condition_variable m_arrived;
  std::deque<ComPtr<IWbemClassObject>> m_queue;
  std::optional<HRESULT> m_final;
  ComPtr<IWbemClassObject> m_statusObject;
  std::size_t m_dropped = 0;
};

}  // namespace veltwmi
