// The sink a request's results arrive in: objects queue up from the provider's threads and
// the client takes them one at a time, so it can print each as soon as it is delivered.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

#include "com_support.h"

namespace veltwmi {

class ResultSink final : public IWbemObjectSink {
 public:
  static Ref<ResultSink> create() { return Ref<ResultSink>(new ResultSink()); }

  enum class Next { kObject, kDone, kTimedOut };
  // The next object, or the final status once every object was taken, or kTimedOut at
  // `until`.
  Next next(Ref<IWbemClassObject>& object, HRESULT& status,
            std::chrono::steady_clock::time_point until);

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  STDMETHODIMP Indicate(LONG count, IWbemClassObject** objects) override;
  STDMETHODIMP SetStatus(LONG flags, HRESULT status, BSTR text, IWbemClassObject* object) override;

 private:
  ResultSink() = default;
  ~ResultSink() = default;

  std::atomic<ULONG> refs_{1};
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<Ref<IWbemClassObject>> queue_;
  std::optional<HRESULT> final_;
};

}  // namespace veltwmi
