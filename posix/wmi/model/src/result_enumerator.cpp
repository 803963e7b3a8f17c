// An enumerator fed through an object sink, for the synchronous and semisynchronous calls.
#include <algorithm>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "result_wait.h"
#include "wmi_model/com_object.h"
#include "wmi_model/semisync_results.h"

namespace velt::wmi {
namespace {

using velt::ComPtr;

// Objects a forward-only semisynchronous enumeration holds before its producer waits.
constexpr std::size_t kForwardOnlyRoom = 4096;
// Objects NextAsync hands its sink in one Indicate at most.
constexpr ULONG kNextAsyncPiece = 256;

// What the sink received, shared by the sink and every enumerator over it. Positions count
// from the first object ever received; a forward-only enumeration drops what it handed out.
struct Results {
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<ComPtr<IWbemClassObject>> objects;
  std::size_t first = 0;  // the position of objects.front()
  bool complete = false;
  HRESULT status = WBEM_S_NO_ERROR;
  bool abandoned = false;  // no enumerator left to read
  bool forwardOnly = false;
  bool bounded = false;

  std::size_t end() const { return first + objects.size(); }
};

class ResultSink final : public detail::ComObject<IWbemObjectSink, IID_IWbemObjectSink> {
 public:
  explicit ResultSink(std::shared_ptr<Results> results) : m_results(std::move(results)) {}

  STDMETHODIMP Indicate(LONG count, IWbemClassObject** objects) override {
    if (count < 0 || (count > 0 && objects == nullptr)) return WBEM_E_INVALID_PARAMETER;
    Results& r = *m_results;
    std::unique_lock<std::mutex> lock(r.mutex);
    if (r.bounded) {
      r.changed.wait(lock, [&] { return r.abandoned || r.objects.size() < kForwardOnlyRoom; });
    }
    // Nobody will read them: the producer may as well stop.
    if (r.abandoned) return WBEM_E_CALL_CANCELLED;
    if (r.complete) return WBEM_S_NO_ERROR;
    for (LONG i = 0; i < count; ++i) {
      if (objects[i] != nullptr) objects[i]->AddRef();
      r.objects.emplace_back(objects[i]);
    }
    r.changed.notify_all();
    return WBEM_S_NO_ERROR;
  }

  STDMETHODIMP SetStatus(LONG flags, HRESULT status, BSTR, IWbemClassObject*) override {
    if (flags != WBEM_STATUS_COMPLETE) return WBEM_S_NO_ERROR;
    Results& r = *m_results;
    std::lock_guard<std::mutex> lock(r.mutex);
    if (!r.complete) {
      r.complete = true;
      r.status = status;
      r.changed.notify_all();
    }
    return WBEM_S_NO_ERROR;
  }

 private:
  std::shared_ptr<Results> m_results;
};

// Counts the enumerators over one set of results; the last one gone abandons them.
struct Readers {
  explicit Readers(std::shared_ptr<Results> results) : results(std::move(results)) {}
  ~Readers() {
    std::lock_guard<std::mutex> lock(results->mutex);
    results->abandoned = true;
    results->objects.clear();
    results->changed.notify_all();
  }
  std::shared_ptr<Results> results;
};

class ResultEnumerator final
    : public detail::ComObject<IEnumWbemClassObject, IID_IEnumWbemClassObject> {
 public:
  ResultEnumerator(std::shared_ptr<Readers> readers, std::size_t position)
      : m_readers(std::move(readers)), m_position(position) {}

  STDMETHODIMP Reset() override {
    Results& r = results();
    if (r.forwardOnly) return WBEM_E_INVALID_OPERATION;
    std::lock_guard<std::mutex> lock(r.mutex);
    m_position = 0;
    return WBEM_S_NO_ERROR;
  }

  STDMETHODIMP Next(LONG timeout, ULONG count, IWbemClassObject** objects,
                    ULONG* returned) override {
    if (objects == nullptr || returned == nullptr || !detail::validTimeout(timeout)) {
      return WBEM_E_INVALID_PARAMETER;
    }
    *returned = 0;
    Results& r = results();
    std::unique_lock<std::mutex> lock(r.mutex);
    const bool all = waitForObjects(lock, timeout, count);
    const std::size_t n = std::min<std::size_t>(count, r.end() - m_position);
    for (std::size_t i = 0; i < n; ++i) {
      IWbemClassObject* object = r.objects[m_position - r.first + i].get();
      if (object != nullptr) object->AddRef();
      objects[i] = object;
    }
    m_position += n;
    *returned = static_cast<ULONG>(n);
    dropHandedOut(r);
    return statusOf(r, all, n, count);
  }

  STDMETHODIMP NextAsync(ULONG count, IWbemObjectSink* sink) override {
    if (sink == nullptr) return WBEM_E_INVALID_PARAMETER;
    {
      Results& r = results();
      std::lock_guard<std::mutex> lock(r.mutex);
      if (r.complete && m_position >= r.end()) return WBEM_S_FALSE;
    }
    // The objects go to the sink as they come, the reader goes on at once.
    AddRef();
    sink->AddRef();
    std::thread([this, count, sink] {
      // In pieces, so that no count a caller names makes room for more than one piece.
      HRESULT status = WBEM_S_NO_ERROR;
      for (ULONG left = count; left > 0 && status == WBEM_S_NO_ERROR;) {
        const ULONG piece = std::min<ULONG>(left, kNextAsyncPiece);
        std::vector<IWbemClassObject*> objects(piece, nullptr);
        ULONG returned = 0;
        status = Next(LONG(WBEM_INFINITE), piece, objects.data(), &returned);
        if (returned > 0) sink->Indicate(LONG(returned), objects.data());
        for (ULONG i = 0; i < returned; ++i) {
          if (objects[i] != nullptr) objects[i]->Release();
        }
        left -= returned;
      }
      sink->SetStatus(WBEM_STATUS_COMPLETE, status, nullptr, nullptr);
      sink->Release();
      Release();
    }).detach();
    return WBEM_S_NO_ERROR;
  }

  STDMETHODIMP Clone(IEnumWbemClassObject** out) override {
    if (out == nullptr) return WBEM_E_INVALID_PARAMETER;
    *out = nullptr;
    Results& r = results();
    if (r.forwardOnly) return WBEM_E_INVALID_OPERATION;
    std::lock_guard<std::mutex> lock(r.mutex);
    *out = new ResultEnumerator(m_readers, m_position);
    return WBEM_S_NO_ERROR;
  }

  STDMETHODIMP Skip(LONG timeout, ULONG count) override {
    if (!detail::validTimeout(timeout)) return WBEM_E_INVALID_PARAMETER;
    Results& r = results();
    std::unique_lock<std::mutex> lock(r.mutex);
    const bool all = waitForObjects(lock, timeout, count);
    const std::size_t n = std::min<std::size_t>(count, r.end() - m_position);
    m_position += n;
    dropHandedOut(r);
    return statusOf(r, all, n, count);
  }

 private:
  Results& results() const { return *m_readers->results; }

  bool waitForObjects(std::unique_lock<std::mutex>& lock, LONG timeout, ULONG count) {
    Results& r = results();
    return detail::waitFor(lock, r.changed, timeout,
                           [&] { return r.complete || r.end() - m_position >= count; });
  }

  // A forward-only enumeration has one reader, so what it passed goes.
  void dropHandedOut(Results& r) {
    if (!r.forwardOnly) return;
    while (r.first < m_position && !r.objects.empty()) {
      r.objects.pop_front();
      ++r.first;
    }
    r.changed.notify_all();
  }

  // WBEM_S_FALSE once the results ended short of what was asked; the enumeration's failure
  // once nothing is left before it.
  static HRESULT statusOf(const Results& r, bool waited, std::size_t taken, ULONG count) {
    if (taken == count) return WBEM_S_NO_ERROR;
    if (!waited) return WBEM_S_TIMEDOUT;
    if (FAILED(r.status) && taken == 0) return r.status;
    return WBEM_S_FALSE;
  }

  std::shared_ptr<Readers> m_readers;
  std::size_t m_position;  // guarded by the results' mutex
};

}  // namespace

HRESULT createResultEnumerator(LONG flags, IEnumWbemClassObject** enumerator,
                               IWbemObjectSink** sink) {
  if (enumerator == nullptr || sink == nullptr) return WBEM_E_INVALID_PARAMETER;
  auto results = std::make_shared<Results>();
  results->forwardOnly = (flags & WBEM_FLAG_FORWARD_ONLY) != 0;
  // A synchronous call returns only once everything arrived, so it cannot wait for a reader.
  results->bounded = results->forwardOnly && (flags & WBEM_FLAG_RETURN_IMMEDIATELY) != 0;
  *sink = new ResultSink(results);
  *enumerator = new ResultEnumerator(std::make_shared<Readers>(results), 0);
  return WBEM_S_NO_ERROR;
}

}  // namespace velt::wmi
