#include "query_sinks.h"

#include <mutex>
#include <vector>

#include <owners/utf_text.h>

#include "wmi_model/class_object.h"
#include "wql/evaluate.h"

namespace velt::wmi::detail {
namespace {

bool selected(const wql::Query& query, const std::u16string& name) {
  for (const wql::PropertyRef& ref : query.select) {
    if (equalsIgnoreCase(ref.path.front(), name)) return true;
  }
  return false;
}

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
      if (m_query->where && !wql::matches(*m_query->where, object)) continue;
      if (m_query->selectAll) {
        HRESULT hr = m_client->Indicate(1, &object);
        if (FAILED(hr)) return hr;
        continue;
      }
      ComPtr<IWbemClassObject> shown = project(object);
      if (!shown) return WBEM_E_OUT_OF_MEMORY;
      IWbemClassObject* one = shown.get();
      HRESULT hr = m_client->Indicate(1, &one);
      if (FAILED(hr)) return hr;
    }
    return WBEM_S_NO_ERROR;
  }
  STDMETHODIMP SetStatus(LONG flags, HRESULT status, BSTR text, IWbemClassObject* object) override {
    return m_client->SetStatus(flags, status, text, object);
  }

 private:
  // Which properties of `layout` stay: the selected ones and the keys.
  const std::vector<bool>& keptOf(const std::shared_ptr<const ClassLayout>& layout) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (layout != m_keptLayout) {
      m_kept.clear();
      for (const PropertyDef& p : layout->properties) {
        m_kept.push_back(selected(*m_query, p.name) || p.isKey());
      }
      m_keptLayout = layout;
    }
    return m_kept;
  }

  ComPtr<IWbemClassObject> project(IWbemClassObject* object) {
    if (std::optional<ObjectState> state = stateOf(object)) {
      std::vector<bool> kept = keptOf(state->layout);
      for (std::size_t i = 0; i < state->values.size(); ++i) {
        if (!kept[i]) state->values[i] = Variant::null();
      }
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
      if (selected(*m_query, text) || key) continue;
      Variant null = Variant::null();
      copy->Put(text.c_str(), 0, null.get(), 0);
    }
    return copy;
  }

  ComPtr<IWbemObjectSink> m_client;
  std::shared_ptr<const wql::Query> m_query;
  std::shared_ptr<const ClassLayout> m_queried;
  std::mutex m_mutex;
  std::shared_ptr<const ClassLayout> m_keptLayout;
  std::vector<bool> m_kept;
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
