#include "wmi_model/recording_sink.h"

#include <condition_variable>
#include <mutex>

#include "wmi_model/com_object.h"

namespace velt::wmi {
namespace {

class RecordingSinkImpl final : public detail::ComObject<RecordingSink, IID_IWbemObjectSink> {
 public:
  ~RecordingSinkImpl() override {
    for (SinkEvent& e : events_) {
      for (IWbemClassObject* o : e.objects) o->Release();
    }
  }

  STDMETHODIMP Indicate(LONG count, IWbemClassObject** objects) override {
    if (count < 0 || (count > 0 && !objects)) return WBEM_E_INVALID_PARAMETER;
    SinkEvent e;
    for (LONG i = 0; i < count; ++i) {
      if (objects[i]) objects[i]->AddRef();
      e.objects.push_back(objects[i]);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    indicated_ += e.objects.size();
    events_.push_back(std::move(e));
    changed_.notify_all();
    return WBEM_S_NO_ERROR;
  }

  STDMETHODIMP SetStatus(LONG flags, HRESULT status, BSTR, IWbemClassObject*) override {
    std::lock_guard<std::mutex> lock(mutex_);
    SinkEvent e;
    e.kind = SinkEvent::kSetStatus;
    e.flags = flags;
    e.status = status;
    events_.push_back(std::move(e));
    if (flags == WBEM_STATUS_COMPLETE && !final_) final_ = status;
    changed_.notify_all();
    return WBEM_S_NO_ERROR;
  }

  std::vector<SinkEvent> events() const override {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }

  std::vector<IWbemClassObject*> objects() const override {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<IWbemClassObject*> all;
    for (const SinkEvent& e : events_) all.insert(all.end(), e.objects.begin(), e.objects.end());
    return all;
  }

  std::optional<HRESULT> waitForFinalStatus(std::chrono::milliseconds timeout) const override {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, timeout, [&] { return final_.has_value(); });
    return final_;
  }

  bool waitForObjects(std::size_t count, std::chrono::milliseconds timeout) const override {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return indicated_ >= count; });
  }

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<SinkEvent> events_;
  std::size_t indicated_ = 0;
  std::optional<HRESULT> final_;
};

}  // namespace

RecordingSink* RecordingSink::create() { return new RecordingSinkImpl(); }

}  // namespace velt::wmi
