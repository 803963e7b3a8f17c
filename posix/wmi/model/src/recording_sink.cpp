#include "wmi_model/recording_sink.h"

#include <condition_variable>
#include <mutex>

#include "wmi_model/com_object.h"

namespace velt::wmi {
namespace {

class RecordingSinkImpl final : public detail::ComObject<RecordingSink, IID_IWbemObjectSink> {
 public:
  ~RecordingSinkImpl() override {
    for (SinkEvent& e : m_events) {
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
    std::lock_guard<std::mutex> lock(m_mutex);
    m_indicated += e.objects.size();
    m_events.push_back(std::move(e));
    m_changed.notify_all();
    return WBEM_S_NO_ERROR;
  }

  STDMETHODIMP SetStatus(LONG flags, HRESULT status, BSTR, IWbemClassObject*) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    SinkEvent e;
    e.kind = SinkEvent::kSetStatus;
    e.flags = flags;
    e.status = status;
    m_events.push_back(std::move(e));
    if (flags == WBEM_STATUS_COMPLETE && !m_final) m_final = status;
    m_changed.notify_all();
    return WBEM_S_NO_ERROR;
  }

  std::vector<SinkEvent> events() const override {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_events;
  }

  std::vector<IWbemClassObject*> objects() const override {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<IWbemClassObject*> all;
    for (const SinkEvent& e : m_events) all.insert(all.end(), e.objects.begin(), e.objects.end());
    return all;
  }

  std::optional<HRESULT> waitForFinalStatus(std::chrono::milliseconds timeout) const override {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait_for(lock, timeout, [&] { return m_final.has_value(); });
    return m_final;
  }

  bool waitForObjects(std::size_t count, std::chrono::milliseconds timeout) const override {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_indicated >= count; });
  }

 private:
  mutable std::mutex m_mutex;
  mutable std::condition_variable m_changed;
  std::vector<SinkEvent> m_events;
  std::size_t m_indicated = 0;
  std::optional<HRESULT> m_final;
};

}  // namespace

RecordingSink* RecordingSink::create() { return new RecordingSinkImpl(); }

}  // namespace velt::wmi
