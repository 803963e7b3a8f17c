#include "result_sink.h"

namespace veltwmi {

ResultSink::Next ResultSink::next(ComPtr<IWbemClassObject>& object, HRESULT& status,
                                  std::chrono::steady_clock::time_point until) {
  std::unique_lock<std::mutex> lock(mutex_);
  arrived_.wait_until(lock, until, [&] { return !queue_.empty() || final_.has_value(); });
  if (!queue_.empty()) {
    object = std::move(queue_.front());
    queue_.pop_front();
    return Next::kObject;
  }
  if (final_) {
    status = *final_;
    return Next::kDone;
  }
  return Next::kTimedOut;
}

std::size_t ResultSink::dropped() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return dropped_;
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

ULONG STDMETHODCALLTYPE ResultSink::AddRef() { return ++refs_; }

ULONG STDMETHODCALLTYPE ResultSink::Release() {
  ULONG left = --refs_;
  if (left == 0) delete this;
  return left;
}

STDMETHODIMP ResultSink::Indicate(LONG count, IWbemClassObject** objects) {
  if (count < 0 || (count > 0 && !objects)) return WBEM_E_INVALID_PARAMETER;
  std::lock_guard<std::mutex> lock(mutex_);
  for (LONG i = 0; i < count; ++i) {
    if (!objects[i]) continue;
    if (queue_.size() >= limit_) {
      ++dropped_;
      continue;
    }
    queue_.push_back(ComPtr<IWbemClassObject>::share(objects[i]));
  }
  arrived_.notify_all();
  return WBEM_S_NO_ERROR;
}

ComPtr<IWbemClassObject> ResultSink::statusObject() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return statusObject_;
}

STDMETHODIMP ResultSink::SetStatus(LONG flags, HRESULT status, BSTR, IWbemClassObject* object) {
  if (flags != WBEM_STATUS_COMPLETE) return WBEM_S_NO_ERROR;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!final_) {
    final_ = status;
    if (object) statusObject_ = ComPtr<IWbemClassObject>::share(object);
  }
  arrived_.notify_all();
  return WBEM_S_NO_ERROR;
}

}  // namespace veltwmi
