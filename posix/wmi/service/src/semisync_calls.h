// The synchronous and semisynchronous forms of the namespace's calls, made of their
// asynchronous forms: the results go through a sink into an enumerator or a call result.
#pragma once

#include <wbemcli.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "wmi_model/com_object.h"
#include "wmi_model/semisync_results.h"

namespace velt::wmi::detail {

// Passes everything on and notes the final status, for a synchronous call that returns it.
class CompletionWatch final : public ComObject<IWbemObjectSink, IID_IWbemObjectSink> {
 public:
  explicit CompletionWatch(IWbemObjectSink* next)
      : m_next(velt::ComPtr<IWbemObjectSink>::share(next)) {}

  STDMETHODIMP Indicate(LONG count, IWbemClassObject** objects) override {
    return m_next->Indicate(count, objects);
  }
  STDMETHODIMP SetStatus(LONG flags, HRESULT status, BSTR text, IWbemClassObject* object) override {
    HRESULT answer = m_next->SetStatus(flags, status, text, object);
    if (flags == WBEM_STATUS_COMPLETE) {
      std::lock_guard<std::mutex> lock(m_mutex);
      if (!m_final) m_final = status;
      m_done.notify_all();
    }
    return answer;
  }
  HRESULT waitForFinalStatus() {
    std::unique_lock<std::mutex> lock(m_mutex);
    // A synchronous caller is not left waiting for good on a provider that never answers.
    if (!m_done.wait_for(lock, std::chrono::minutes(5), [&] { return m_final.has_value(); })) {
      return WBEM_E_TIMED_OUT;
    }
    return *m_final;
  }

 private:
  velt::ComPtr<IWbemObjectSink> m_next;
  std::mutex m_mutex;
  std::condition_variable m_done;
  std::optional<HRESULT> m_final;
};

// Runs `start(sink)` (an asynchronous call) so that `sink` gets its final status even when the
// call itself fails; then, when the call is synchronous, answers that final status.
template <typename Start>
HRESULT completeThrough(IWbemObjectSink* sink, bool synchronous, Start& start) {
  velt::ComPtr<CompletionWatch> watch(new CompletionWatch(sink));
  HRESULT started = start(watch.get());
  if (FAILED(started)) watch->SetStatus(WBEM_STATUS_COMPLETE, started, nullptr, nullptr);
  return synchronous ? watch->waitForFinalStatus() : WBEM_S_NO_ERROR;
}

// `keep` holds the object that serves the call while it runs in the background.
template <typename Start>
HRESULT runSemisynchronously(IUnknown* keep, LONG flags, IWbemObjectSink* sink, Start start) {
  if ((flags & WBEM_FLAG_RETURN_IMMEDIATELY) == 0) return completeThrough(sink, true, start);
  keep->AddRef();
  sink->AddRef();
  std::thread([keep, sink, start = std::move(start)]() mutable {
    completeThrough(sink, false, start);
    sink->Release();
    keep->Release();
  }).detach();
  return WBEM_S_NO_ERROR;
}

// An enumerator over what `start` makes; a synchronous call answers once it all came.
template <typename Start>
HRESULT enumerateThrough(IUnknown* keep, LONG flags, IEnumWbemClassObject** out, Start start) {
  if (out == nullptr) return WBEM_E_INVALID_PARAMETER;
  *out = nullptr;
  velt::ComPtr<IEnumWbemClassObject> enumerator;
  velt::ComPtr<IWbemObjectSink> sink;
  HRESULT hr = createResultEnumerator(flags, enumerator.put(), sink.put());
  if (FAILED(hr)) return hr;
  hr = runSemisynchronously(keep, flags, sink.get(), std::move(start));
  if (FAILED(hr)) return hr;
  *out = enumerator.detach();
  return WBEM_S_NO_ERROR;
}

}  // namespace velt::wmi::detail
