#include "result_sink.h"

namespace veltwmi {

ResultSink::Next ResultSink::next(ComPtr<IWbemClassObject>& object, HRESULT& status,
                                  std::chrono::steady_clock::time_point until) {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_arrived.wait_until(lock, until, [&] { return !m_queue.empty() || m_final.has_value(); });
  if (!m_queue.empty()) {
    object = std::move(m_queue.front());
    m_queue.pop_front();
    return Next::kObject;
  }
  if (m_final) {
    status = *m_final;
    return Next::kDone;
  }
  return Next::kTimedOut;
}

std::size_t ResultSink::dropped() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_dropped;
}

STDMETHODIMP ResultSink::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IWbemObjectSink) {
    *out = static_cast<IWbemObjectSink*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE ResultSink::AddRef() { return ++m_refs; }

ULONG STDMETHODCALLTYPE ResultSink::Release() {
  ULONG left = --m_refs;
  if (left == 0) delete this;
  return left;
}

STDMETHODIMP ResultSink::Indicate(LONG count, IWbemClassObject** objects) {
  if (count < 0 || (count > 0 && !objects)) return WBEM_E_INVALID_PARAMETER;
  std::lock_guard<std::mutex> lock(m_mutex);
  for (LONG i = 0; i < count; ++i) {
    if (!objects[i]) continue;
    if (m_queue.size() >= m_limit) {
      ++m_dropped;
      continue;
    }
    m_queue.push_back(ComPtr<IWbemClassObject>::share(objects[i]));
  }
  m_arrived.notify_all();
  return WBEM_S_NO_ERROR;
}

ComPtr<IWbemClassObject> ResultSink::statusObject() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_statusObject;
}

STDMETHODIMP ResultSink::SetStatus(LONG flags, HRESULT status, BSTR, IWbemClassObject* object) {
  if (flags != WBEM_STATUS_COMPLETE) return WBEM_S_NO_ERROR;
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!m_final) {
    m_final = status;
    if (object) m_statusObject = ComPtr<IWbemClassObject>::share(object);
  }
  m_arrived.notify_all();
  return WBEM_S_NO_ERROR;
}

}  // namespace veltwmi
