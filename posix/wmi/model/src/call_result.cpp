// A call result completed through an object sink, for the semisynchronous calls.
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>

#include <owners/unique_handle.h>

#include "result_wait.h"
#include "wmi_model/com_object.h"
#include "wmi_model/semisync_results.h"

namespace velt::wmi {
namespace {

using velt::ComPtr;

struct Outcome {
  std::mutex mutex;
  std::condition_variable changed;
  std::optional<HRESULT> status;
  ComPtr<IWbemClassObject> object;
  velt::UniqueBstr text;
};

class CallResultSink final : public detail::ComObject<IWbemObjectSink, IID_IWbemObjectSink> {
 public:
  explicit CallResultSink(std::shared_ptr<Outcome> outcome) : m_outcome(std::move(outcome)) {}

  STDMETHODIMP Indicate(LONG count, IWbemClassObject** objects) override {
    if (count < 0 || (count > 0 && objects == nullptr)) return WBEM_E_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(m_outcome->mutex);
    if (count > 0 && !m_outcome->object && !m_outcome->status) {
      if (objects[0] != nullptr) objects[0]->AddRef();
      m_outcome->object = ComPtr<IWbemClassObject>(objects[0]);
    }
    return WBEM_S_NO_ERROR;
  }

  STDMETHODIMP SetStatus(LONG flags, HRESULT status, BSTR text, IWbemClassObject*) override {
    if (flags != WBEM_STATUS_COMPLETE) return WBEM_S_NO_ERROR;
    std::lock_guard<std::mutex> lock(m_outcome->mutex);
    if (m_outcome->status) return WBEM_S_NO_ERROR;
    m_outcome->status = status;
    if (text != nullptr) m_outcome->text.reset(SysAllocStringLen(text, SysStringLen(text)));
    m_outcome->changed.notify_all();
    return WBEM_S_NO_ERROR;
  }

 private:
  std::shared_ptr<Outcome> m_outcome;
};

class CallResult final : public detail::ComObject<IWbemCallResult, IID_IWbemCallResult> {
 public:
  CallResult(std::shared_ptr<Outcome> outcome, IWbemServices* services)
      : m_outcome(std::move(outcome)), m_services(services) {
    if (services != nullptr) services->AddRef();
  }

  STDMETHODIMP GetResultObject(LONG timeout, IWbemClassObject** out) override {
    if (out == nullptr) return WBEM_E_INVALID_PARAMETER;
    *out = nullptr;
    return whenDone(timeout, [&](Outcome& o) -> HRESULT {
      if (!o.object) return WBEM_E_INVALID_OPERATION;
      o.object->AddRef();
      *out = o.object.get();
      return WBEM_S_NO_ERROR;
    });
  }

  STDMETHODIMP GetResultString(LONG timeout, BSTR* out) override {
    if (out == nullptr) return WBEM_E_INVALID_PARAMETER;
    *out = nullptr;
    return whenDone(timeout, [&](Outcome& o) -> HRESULT {
      if (!o.text) return WBEM_E_INVALID_OPERATION;
      *out = SysAllocStringLen(o.text.get(), SysStringLen(o.text.get()));
      return *out != nullptr ? WBEM_S_NO_ERROR : WBEM_E_OUT_OF_MEMORY;
    });
  }

  STDMETHODIMP GetResultServices(LONG timeout, IWbemServices** out) override {
    if (out == nullptr) return WBEM_E_INVALID_PARAMETER;
    *out = nullptr;
    return whenDone(timeout, [&](Outcome&) -> HRESULT {
      if (!m_services) return WBEM_E_INVALID_OPERATION;
      m_services->AddRef();
      *out = m_services.get();
      return WBEM_S_NO_ERROR;
    });
  }

  STDMETHODIMP GetCallStatus(LONG timeout, LONG* status) override {
    if (status == nullptr || !detail::validTimeout(timeout)) return WBEM_E_INVALID_PARAMETER;
    std::unique_lock<std::mutex> lock(m_outcome->mutex);
    if (!detail::waitFor(lock, m_outcome->changed, timeout,
                         [&] { return m_outcome->status.has_value(); })) {
      return WBEM_S_TIMEDOUT;
    }
    *status = *m_outcome->status;
    return WBEM_S_NO_ERROR;
  }

 private:
  // Waits for the call's end, then answers its failure, or what `take` makes of its outcome.
  template <typename Take>
  HRESULT whenDone(LONG timeout, Take take) {
    if (!detail::validTimeout(timeout)) return WBEM_E_INVALID_PARAMETER;
    std::unique_lock<std::mutex> lock(m_outcome->mutex);
    if (!detail::waitFor(lock, m_outcome->changed, timeout,
                         [&] { return m_outcome->status.has_value(); })) {
      return WBEM_S_TIMEDOUT;
    }
    if (FAILED(*m_outcome->status)) return *m_outcome->status;
    return take(*m_outcome);
  }

  std::shared_ptr<Outcome> m_outcome;
  ComPtr<IWbemServices> m_services;
};

}  // namespace

HRESULT createCallResult(IWbemServices* services, IWbemCallResult** result,
                         IWbemObjectSink** sink) {
  if (result == nullptr || sink == nullptr) return WBEM_E_INVALID_PARAMETER;
  auto outcome = std::make_shared<Outcome>();
  *sink = new CallResultSink(outcome);
  *result = new CallResult(outcome, services);
  return WBEM_S_NO_ERROR;
}

}  // namespace velt::wmi
