#include "query_sinks.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include <owners/utf_text.h>

#include "bound_query.h"
#include "wmi_model/class_object.h"
#include "wql/evaluate.h"

namespace velt::wmi::detail {
namespace {

class QuerySink final : public ComObject<IWbemObjectSink, IID_IWbemObjectSink> {
 public:
  QuerySink(IWbemObjectSink* client, std::shared_ptr<const wql::Query> query,
            std::shared_ptr<const ClassLayout> queried)
      : m_client(ComPtr<IWbemObjectSink>::share(client)),
        m_query(std::move(query)),
        m_queried(std::move(queried)) {}

  STDMETHODIMP Indicate(LONG count, IWbemClassObject** objects) override {
    if (count < 0 || (count > 0 && !objects)) return WBEM_E_INVALID_PARAMETER;
    for (LONG i = 0; i < count; ++i) {
      IWbemClassObject* object = objects[i];
      if (!object) continue;
      if (m_query->selectAll && !m_query->where) {
        HRESULT hr = m_client->Indicate(1, &object);
        if (FAILED(hr)) return hr;
        continue;
      }
      Outcome outcome;
      try {
        outcome = inPlace(object);
        if (outcome.kind == Outcome::kNotInPlace) outcome = throughObject(object);
      } catch (const std::bad_alloc&) {
        return WBEM_E_OUT_OF_MEMORY;
      }
      if (outcome.kind == Outcome::kLeftOut) continue;
      if (outcome.kind == Outcome::kFailed) return WBEM_E_OUT_OF_MEMORY;
      IWbemClassObject* one = outcome.shown ? outcome.shown.get() : object;
      HRESULT hr = m_client->Indicate(1, &one);
      if (FAILED(hr)) return hr;
    }
    return WBEM_S_NO_ERROR;
  }
  STDMETHODIMP SetStatus(LONG flags, HRESULT status, BSTR text, IWbemClassObject* object) override {
    return m_client->SetStatus(flags, status, text, object);
  }

 private:
  // What becomes of one object: left out, or passed on as it is (no `shown`) or as `shown`.
  struct Outcome {
    enum Kind { kNotInPlace, kLeftOut, kPassed, kFailed } kind = kNotInPlace;
    ComPtr<IWbemClassObject> shown;
  };

  // The query bound to `layout`. The bindings made are kept for the sink's life, so that the
  // one most recently used is found without a lock; a provider whose instances come on ever new
  // layouts gets a binding of its own for each past the first few (`spare` holds it), so that
  // what the sink keeps does not grow with the count.
  const BoundQuery* boundTo(const std::shared_ptr<const ClassLayout>& layout,
                            std::unique_ptr<const BoundQuery>& spare) {
    const BoundQuery* current = m_current.load(std::memory_order_acquire);
    if (current && current->layout() == layout) return current;
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const std::unique_ptr<const BoundQuery>& bound : m_bound) {
      if (bound->layout() == layout) {
        m_current.store(bound.get(), std::memory_order_release);
        return bound.get();
      }
    }
    auto made = std::make_unique<const BoundQuery>(m_query, layout);
    if (m_bound.size() >= kKeptBindings) {
      spare = std::move(made);
      return spare.get();
    }
    m_bound.push_back(std::move(made));
    m_current.store(m_bound.back().get(), std::memory_order_release);
    return m_bound.back().get();
  }

  // Filters and projects an object of this library on its values, under its lock. Nothing is
  // decided when the condition needs the object itself, or a value may hold an object.
  Outcome inPlace(IWbemClassObject* object) {
    struct Work {
      QuerySink* self;
      bool decided = false;
      bool passed = false;
      ObjectState shown;
    } work{this, false, false, {}};
    auto use = [](const ObjectView& view, void* context) -> HRESULT {
      Work& w = *static_cast<Work*>(context);
      std::unique_ptr<const BoundQuery> spare;
      const BoundQuery* bound = w.self->boundTo(view.layout, spare);
      if (!bound->inPlace()) return WBEM_S_NO_ERROR;
      w.decided = true;
      w.passed = bound->matches(view.values);
      if (w.passed && !w.self->m_query->selectAll) {
        w.shown = ObjectState{view.layout, view.genus, bound->project(view.values)};
      }
      return WBEM_S_NO_ERROR;
    };
    std::optional<HRESULT> ran = withStateOf(object, use, &work);
    if (!ran || !work.decided) return {};
    if (!work.passed) return {Outcome::kLeftOut, {}};
    if (m_query->selectAll) return {Outcome::kPassed, {}};
    ComPtr<IWbemClassObject> shown = makeObject(std::move(work.shown));
    return {shown ? Outcome::kPassed : Outcome::kFailed, std::move(shown)};
  }

  // The same through the object's interface, for any object.
  Outcome throughObject(IWbemClassObject* object) {
    if (m_query->where && !wql::matches(*m_query->where, object)) return {Outcome::kLeftOut, {}};
    if (m_query->selectAll) return {Outcome::kPassed, {}};
    ComPtr<IWbemClassObject> shown = project(object);
    return {shown ? Outcome::kPassed : Outcome::kFailed, std::move(shown)};
  }

  ComPtr<IWbemClassObject> project(IWbemClassObject* object) {
    if (std::optional<ObjectState> state = stateOf(object)) {
      std::unique_ptr<const BoundQuery> spare;
      const BoundQuery* bound = boundTo(state->layout, spare);
      state->values = bound->project(state->values);
      return makeObject(std::move(*state));
    }
    // An object of another make: a copy with the rest set to NULL.
    ComPtr<IWbemClassObject> copy;
    if (FAILED(object->Clone(copy.put()))) return {};
    SAFEARRAY* names = nullptr;
    if (FAILED(copy->GetNames(nullptr, WBEM_FLAG_NONSYSTEM_ONLY, nullptr, &names))) return copy;
    std::vector<Variant> each;
    Variant array;
    array.get()->vt = VT_ARRAY | VT_BSTR;
    array.get()->parray = names;
    readElements(*array.get(), each);
    for (const Variant& name : each) {
      std::u16string text = name.asText();
      int at = m_queried->findProperty(text);
      bool key = at >= 0 && m_queried->properties[at].isKey();
      if (selected(text) || key) continue;
      Variant null = Variant::null();
      copy->Put(text.c_str(), 0, null.get(), 0);
    }
    return copy;
  }

  bool selected(const std::u16string& name) const {
    for (const wql::PropertyRef& ref : m_query->select) {
      if (equalsIgnoreCase(ref.path.front(), name)) return true;
    }
    return false;
  }

  ComPtr<IWbemObjectSink> m_client;
  std::shared_ptr<const wql::Query> m_query;
  std::shared_ptr<const ClassLayout> m_queried;
  static constexpr std::size_t kKeptBindings = 8;
  std::mutex m_mutex;  // over m_bound
  std::vector<std::unique_ptr<const BoundQuery>> m_bound;
  std::atomic<const BoundQuery*> m_current{nullptr};
};

}  // namespace

HRESULT EventFilterSink::Indicate(LONG count, IWbemClassObject** objects) {
  if (count < 0 || (count > 0 && !objects)) return WBEM_E_INVALID_PARAMETER;
  for (LONG i = 0; i < count; ++i) {
    IWbemClassObject* event = objects[i];
    if (!event || (m_query->where && !wql::matches(*m_query->where, event))) continue;
    m_client->Indicate(1, &event);
  }
  return WBEM_S_NO_ERROR;
}

HRESULT EventFilterSink::SetStatus(LONG flags, HRESULT status, BSTR text,
                                   IWbemClassObject* object) {
  if (flags == WBEM_STATUS_COMPLETE) m_ended = true;
  return m_client->SetStatus(flags, status, text, object);
}

ComPtr<IWbemObjectSink> makeQuerySink(IWbemObjectSink* client,
                                      std::shared_ptr<const wql::Query> query,
                                      std::shared_ptr<const ClassLayout> queried) {
  return ComPtr<IWbemObjectSink>(new QuerySink(client, std::move(query), std::move(queried)));
}

ComPtr<IWbemClassObject> queryFaultStatus(const std::shared_ptr<const ClassDef>& statusClass,
                                          const std::string& description,
                                          const char16_t* operation) {
  if (!statusClass) return {};
  ComPtr<IWbemClassObject> cls = makeClassObject(statusClass);
  ComPtr<IWbemClassObject> status;
  if (!cls || FAILED(cls->SpawnInstance(0, status.put()))) return {};
  Variant text = Variant::text(utf16FromUtf8(description));
  status->Put(u"Description", 0, text.get(), 0);
  Variant op = Variant::text(operation);
  status->Put(u"Operation", 0, op.get(), 0);
  Variant code;
  code.get()->vt = VT_I4;
  code.get()->lVal = LONG(WBEM_E_INVALID_QUERY);
  status->Put(u"StatusCode", 0, code.get(), 0);
  return status;
}

}  // namespace velt::wmi::detail
