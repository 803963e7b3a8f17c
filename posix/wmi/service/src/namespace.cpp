// IWbemServices of one namespace: class definitions from the repository, instance and method
// requests routed to the class's provider, event subscriptions to the event provider.
#include <algorithm>

#include <owners/utf_text.h>
#ifndef _WIN32
#include <winplatform/remoting.h>
#endif

#include "query_sinks.h"
#include "semisync_calls.h"
#include "service_state.h"
#include "wmi_model/class_object.h"
#include "wmi_model/object_path_text.h"

namespace velt::wmi::detail {
namespace {

enum class Operation { kGet, kPut, kEnumerate, kMethod };

std::u16string textOf(const BSTR s) { return s ? std::u16string(s, SysStringLen(s)) : u""; }

// The filters standing between client sinks and their subscriptions, shared by every object of
// one namespace so that any of them cancels what another subscribed.
struct Filters {
  std::mutex mutex;
  std::vector<ComPtr<EventFilterSink>> list;
};

// The flags a synchronous or semisynchronous call hands its asynchronous form: those that say
// how its results come back stay with it.
LONG asyncFlags(LONG flags) {
  return flags & ~LONG(WBEM_FLAG_RETURN_IMMEDIATELY | WBEM_FLAG_FORWARD_ONLY);
}

// An argument kept for a call that goes on after the caller's returned; null stays null.
velt::UniqueBstr copyOf(const BSTR s) {
  return velt::UniqueBstr(s ? SysAllocStringLen(s, SysStringLen(s)) : nullptr);
}

class Namespace final : public ComObject<IWbemServices, IID_IWbemServices> {
 public:
  Namespace(std::shared_ptr<ServiceState> state, std::u16string name,
            std::shared_ptr<Filters> filters, std::shared_ptr<void> keeper)
      : m_state(std::move(state)),
        m_name(std::move(name)),
        m_filters(std::move(filters)),
        m_keeper(std::move(keeper)) {}

  // The same namespace as an object of its own, keeping `keeper` while it lives.
  ComPtr<IWbemServices> keeping(std::shared_ptr<void> keeper) const {
    return ComPtr<IWbemServices>(new Namespace(m_state, m_name, m_filters, std::move(keeper)));
  }

  STDMETHODIMP OpenNamespace(const BSTR child, LONG flags, IWbemContext*, IWbemServices** out,
                             IWbemCallResult** result) override {
    if (out) *out = nullptr;
    if (result) *result = nullptr;
    if (!child || (!out && !result)) return WBEM_E_INVALID_PARAMETER;
    if ((flags & WBEM_FLAG_RETURN_IMMEDIATELY) != 0 && (out || !result)) {
      return WBEM_E_INVALID_PARAMETER;
    }
    ComPtr<IWbemServices> opened;
    HRESULT hr = m_state->namespaceServices(m_name + u"\\" + textOf(child), opened.put(), m_keeper);
    if (result) {
      // Opening is at once here, so the call result is complete when it is handed out.
      ComPtr<IWbemObjectSink> sink;
      ComPtr<IWbemCallResult> made;
      HRESULT created = createCallResult(opened.get(), made.put(), sink.put());
      if (FAILED(created)) return created;
      sink->SetStatus(WBEM_STATUS_COMPLETE, hr, nullptr, nullptr);
      if (SUCCEEDED(hr) || (flags & WBEM_FLAG_RETURN_IMMEDIATELY) != 0) *result = made.detach();
      if ((flags & WBEM_FLAG_RETURN_IMMEDIATELY) != 0) return WBEM_S_NO_ERROR;
    }
    if (SUCCEEDED(hr) && out) *out = opened.detach();
    return hr;
  }

  STDMETHODIMP CancelAsyncCall(IWbemObjectSink* sink) override {
    if (!sink) return WBEM_E_INVALID_PARAMETER;
    // A filtered subscription is held by its filter, not by the client's sink.
    ComPtr<EventFilterSink> filter = takeFilter(sink);
    IWbemObjectSink* held = filter ? static_cast<IWbemObjectSink*>(filter.get()) : sink;
    return m_state->cancel(held) ? WBEM_S_NO_ERROR : WBEM_E_NOT_FOUND;
  }

  STDMETHODIMP QueryObjectSink(LONG, IWbemObjectSink**) override { return WBEM_E_NOT_SUPPORTED; }

  // Synchronous: the object, and a completed call result when asked for one. Semisynchronous
  // (WBEM_FLAG_RETURN_IMMEDIATELY): only the call result, which gets the object when it comes.
  STDMETHODIMP GetObject(const BSTR path, LONG flags, IWbemContext* context, IWbemClassObject** out,
                         IWbemCallResult** result) override {
    if (out) *out = nullptr;
    if (result) *result = nullptr;
    const bool immediately = (flags & WBEM_FLAG_RETURN_IMMEDIATELY) != 0;
    if (!path || (immediately ? (out || !result) : !out)) return WBEM_E_INVALID_PARAMETER;
    ComPtr<IWbemCallResult> made;
    ComPtr<IWbemObjectSink> sink;
    HRESULT hr = createCallResult(nullptr, made.put(), sink.put());
    if (FAILED(hr)) return hr;
    hr = runSemisynchronously(this, flags, sink.get(),
                              [this, path = copyOf(path), flags,
                               context = ComPtr<IWbemContext>::share(context)](IWbemObjectSink* s) {
                                return GetObjectAsync(path.get(), asyncFlags(flags), context.get(),
                                                      s);
                              });
    if (SUCCEEDED(hr) && !immediately) {
      hr = made->GetResultObject(LONG(WBEM_INFINITE), out);
      if (hr == WBEM_E_INVALID_OPERATION) hr = WBEM_E_NOT_FOUND;  // completed without an object
    }
    if (FAILED(hr)) return hr;
    if (result) *result = made.detach();
    return WBEM_S_NO_ERROR;
  }

  STDMETHODIMP GetObjectAsync(const BSTR path, LONG flags, IWbemContext* context,
                              IWbemObjectSink* sink) override {
    if (!path || !sink) return WBEM_E_INVALID_PARAMETER;
    std::shared_ptr<const ClassDef> def;
    std::optional<ParsedPath> parsed;
    HRESULT hr = locate(textOf(path), parsed, def);
    if (FAILED(hr)) return complete(sink, hr);
    if (!parsed->isInstance) {
      ComPtr<IWbemClassObject> object = makeClassObject(def);
      IWbemClassObject* one = object.get();
      sink->Indicate(1, &one);
      return complete(sink, WBEM_S_NO_ERROR);
    }
    return route(*def, Operation::kGet, context, sink, [&](IWbemServices* p, IWbemObjectSink* s) {
      return p->GetObjectAsync(path, flags, context, s);
    });
  }

  STDMETHODIMP PutClass(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  STDMETHODIMP PutClassAsync(IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  STDMETHODIMP DeleteClass(const BSTR, LONG, IWbemContext*, IWbemCallResult**) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  STDMETHODIMP DeleteClassAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  STDMETHODIMP CreateClassEnum(const BSTR superclass, LONG flags, IWbemContext* context,
                               IEnumWbemClassObject** out) override {
    return enumerateThrough(this, flags, out,
                            [this, superclass = copyOf(superclass), flags,
                             context = ComPtr<IWbemContext>::share(context)](IWbemObjectSink* s) {
                              return CreateClassEnumAsync(superclass.get(), asyncFlags(flags),
                                                          context.get(), s);
                            });
  }
  // The namespace's classes (system classes left out), or those derived from `superclass`.
  STDMETHODIMP CreateClassEnumAsync(const BSTR superclass, LONG, IWbemContext*,
                                    IWbemObjectSink* sink) override {
    if (!sink) return WBEM_E_INVALID_PARAMETER;
    std::optional<NamespaceData> data = m_state->repository.snapshot(m_name);
    if (!data) return complete(sink, WBEM_E_INVALID_NAMESPACE);
    std::u16string base = textOf(superclass);
    for (const auto& [key, def] : data->classes) {
      if (def->name.rfind(u"__", 0) == 0) continue;
      if (!base.empty() && !def->derivesFrom(base)) continue;
      ComPtr<IWbemClassObject> object = makeClassObject(def);
      IWbemClassObject* one = object.get();
      sink->Indicate(1, &one);
    }
    return complete(sink, WBEM_S_NO_ERROR);
  }
  STDMETHODIMP PutInstance(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**) override {
    return WBEM_E_NOT_SUPPORTED;
  }

  STDMETHODIMP PutInstanceAsync(IWbemClassObject* instance, LONG flags, IWbemContext* context,
                                IWbemObjectSink* sink) override {
    if (!instance || !sink) return WBEM_E_INVALID_PARAMETER;
    Variant cls, genus;
    instance->Get(u"__CLASS", 0, cls.get(), nullptr, nullptr);
    instance->Get(u"__GENUS", 0, genus.get(), nullptr, nullptr);
    if (genus.vt() != VT_I4 || genus.get()->lVal != WBEM_GENUS_INSTANCE) {
      return complete(sink, WBEM_E_INVALID_OBJECT);
    }
    std::shared_ptr<const ClassDef> def = m_state->repository.findClass(m_name, cls.asText());
    if (!def) return complete(sink, WBEM_E_INVALID_CLASS);
    return route(*def, Operation::kPut, context, sink, [&](IWbemServices* p, IWbemObjectSink* s) {
      return p->PutInstanceAsync(instance, flags, context, s);
    });
  }

  STDMETHODIMP DeleteInstance(const BSTR, LONG, IWbemContext*, IWbemCallResult**) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  STDMETHODIMP DeleteInstanceAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  STDMETHODIMP CreateInstanceEnum(const BSTR className, LONG flags, IWbemContext* context,
                                  IEnumWbemClassObject** out) override {
    if (!className) return WBEM_E_INVALID_PARAMETER;
    return enumerateThrough(this, flags, out,
                            [this, className = copyOf(className), flags,
                             context = ComPtr<IWbemContext>::share(context)](IWbemObjectSink* s) {
                              return CreateInstanceEnumAsync(className.get(), asyncFlags(flags),
                                                             context.get(), s);
                            });
  }

  STDMETHODIMP CreateInstanceEnumAsync(const BSTR className, LONG flags, IWbemContext* context,
                                       IWbemObjectSink* sink) override {
    if (!className || !sink) return WBEM_E_INVALID_PARAMETER;
    std::shared_ptr<const ClassDef> def = m_state->repository.findClass(m_name, textOf(className));
    if (!def) return complete(sink, WBEM_E_INVALID_CLASS);
    return route(*def, Operation::kEnumerate, context, sink,
                 [&](IWbemServices* p, IWbemObjectSink* s) {
                   return p->CreateInstanceEnumAsync(className, flags, context, s);
                 });
  }

  STDMETHODIMP ExecQuery(const BSTR language, const BSTR query, LONG flags, IWbemContext* context,
                         IEnumWbemClassObject** out) override {
    if (!language || !query) return WBEM_E_INVALID_PARAMETER;
    return enumerateThrough(this, flags, out,
                            [this, language = copyOf(language), query = copyOf(query), flags,
                             context = ComPtr<IWbemContext>::share(context)](IWbemObjectSink* s) {
                              return ExecQueryAsync(language.get(), query.get(), asyncFlags(flags),
                                                    context.get(), s);
                            });
  }
  // Providers here serve no queries of their own: the class is enumerated and the service
  // filters and projects what comes, one object at a time.
  STDMETHODIMP ExecQueryAsync(const BSTR language, const BSTR query, LONG flags,
                              IWbemContext* context, IWbemObjectSink* sink) override {
    if (!language || !query || !sink) return WBEM_E_INVALID_PARAMETER;
    if (!equalsIgnoreCase(textOf(language), u"WQL")) {
      return complete(sink, WBEM_E_INVALID_QUERY_TYPE);
    }
    std::shared_ptr<const wql::Query> parsed;
    std::shared_ptr<const ClassDef> def;
    std::string fault;
    HRESULT hr = checkQuery(textOf(query), wql::QueryKind::kData, parsed, def, fault);
    if (FAILED(hr)) {
      sink->SetStatus(WBEM_STATUS_COMPLETE, hr, nullptr, faultStatus(fault, u"ExecQuery").get());
      return WBEM_S_NO_ERROR;
    }
    ComPtr<IWbemObjectSink> filtered = makeQuerySink(sink, parsed, def->layout());
    velt::UniqueBstr className = velt::bstrFromUtf16(def->name);
    return route(*def, Operation::kEnumerate, context, filtered.get(),
                 [&](IWbemServices* p, IWbemObjectSink* s) {
                   return p->CreateInstanceEnumAsync(className.get(), flags, context, s);
                 });
  }
  STDMETHODIMP ExecNotificationQuery(const BSTR, const BSTR, LONG, IWbemContext*,
                                     IEnumWbemClassObject**) override {
    return WBEM_E_NOT_SUPPORTED;
  }

  STDMETHODIMP ExecNotificationQueryAsync(const BSTR language, const BSTR query, LONG,
                                          IWbemContext* context, IWbemObjectSink* sink) override {
    if (!language || !query || !sink) return WBEM_E_INVALID_PARAMETER;
    if (!equalsIgnoreCase(textOf(language), u"WQL")) return WBEM_E_INVALID_QUERY_TYPE;
    std::shared_ptr<const wql::Query> parsed;
    std::shared_ptr<const ClassDef> def;
    std::string fault;
    HRESULT hr = checkQuery(textOf(query), wql::QueryKind::kEvent, parsed, def, fault);
    if (FAILED(hr)) {
      // The failure is the call's answer; the sink gets the status object that says where the
      // fault is, as nothing else could carry it back.
      if (hr == WBEM_E_INVALID_QUERY) {
        sink->SetStatus(WBEM_STATUS_COMPLETE, hr, nullptr,
                        faultStatus(fault, u"ExecNotificationQuery").get());
      }
      return hr;
    }
    std::optional<ProviderRegistration> registration =
        m_state->repository.findEventProvider(m_name, def->name);
    if (!registration) return WBEM_E_PROVIDER_NOT_FOUND;
    if (!parsed->where) return m_state->subscribe(m_name, *registration, def->name, context, sink);
    ComPtr<EventFilterSink> filter(new EventFilterSink(sink, parsed));
    hr = m_state->subscribe(m_name, *registration, def->name, context, filter.get(), sink);
    if (SUCCEEDED(hr)) keepFilter(std::move(filter));
    return hr;
  }

  STDMETHODIMP ExecMethod(const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*,
                          IWbemClassObject**, IWbemCallResult**) override {
    return WBEM_E_NOT_SUPPORTED;
  }

  STDMETHODIMP ExecMethodAsync(const BSTR path, const BSTR method, LONG flags,
                               IWbemContext* context, IWbemClassObject* in,
                               IWbemObjectSink* sink) override {
    if (!path || !method || !sink) return WBEM_E_INVALID_PARAMETER;
    std::shared_ptr<const ClassDef> def;
    std::optional<ParsedPath> parsed;
    HRESULT hr = locate(textOf(path), parsed, def);
    if (FAILED(hr)) return complete(sink, hr);
    if (!def->findMethod(textOf(method))) return complete(sink, WBEM_E_INVALID_METHOD);
    return route(*def, Operation::kMethod, context, sink,
                 [&](IWbemServices* p, IWbemObjectSink* s) {
                   return p->ExecMethodAsync(path, method, flags, context, in, s);
                 });
  }

 private:
  // The failure goes to the sink as WMI reports the outcome of an accepted asynchronous call.
  static HRESULT complete(IWbemObjectSink* sink, HRESULT status) {
    sink->SetStatus(WBEM_STATUS_COMPLETE, status, nullptr, nullptr);
    return WBEM_S_NO_ERROR;
  }

  // Parses `text` and checks it against the repository: the class and every property it names.
  HRESULT checkQuery(const std::u16string& text, wql::QueryKind kind,
                     std::shared_ptr<const wql::Query>& parsed,
                     std::shared_ptr<const ClassDef>& def, std::string& fault) {
    wql::ParseResult result = wql::parse(text, kind);
    if (!result.query) {
      fault = result.error.text();
      return WBEM_E_INVALID_QUERY;
    }
    def = m_state->repository.findClass(m_name, result.query->className);
    if (!def) return WBEM_E_INVALID_CLASS;
    for (const wql::PropertyRef* ref : wql::referencedProperties(*result.query)) {
      const std::u16string& name = ref->path.front();
      if (name.rfind(u"__", 0) == 0 || def->findProperty(name)) continue;
      fault = wql::ParseError{ref->position, utf8FromUtf16(def->name) + " has no property '" +
                                                 utf8FromUtf16(name) + "'"}
                  .text();
      return WBEM_E_INVALID_QUERY;
    }
    parsed = std::make_shared<const wql::Query>(std::move(*result.query));
    return WBEM_S_NO_ERROR;
  }

  ComPtr<IWbemClassObject> faultStatus(const std::string& fault, const char16_t* operation) {
    if (fault.empty()) return {};
    return queryFaultStatus(m_state->repository.findClass(m_name, u"__ExtendedStatus"), fault,
                            operation);
  }

  // Filters of subscriptions that ended on their own are dropped as new ones come.
  void keepFilter(ComPtr<EventFilterSink> filter) {
    std::lock_guard<std::mutex> lock(m_filters->mutex);
    std::erase_if(m_filters->list, [](const ComPtr<EventFilterSink>& f) { return f->ended(); });
    m_filters->list.push_back(std::move(filter));
  }
  ComPtr<EventFilterSink> takeFilter(IWbemObjectSink* client) {
    std::vector<ComPtr<EventFilterSink>> candidates;
    {
      std::lock_guard<std::mutex> lock(m_filters->mutex);
      for (auto it = m_filters->list.begin(); it != m_filters->list.end(); ++it) {
        if ((*it)->client() == client) {
          ComPtr<EventFilterSink> found = std::move(*it);
          m_filters->list.erase(it);
          return found;
        }
      }
      candidates = m_filters->list;
    }
#ifndef _WIN32
    // A client in another process hands its sink anew to the cancelling call: another proxy
    // of the same object. Asking its process costs calls, made outside the lock.
    for (const ComPtr<EventFilterSink>& candidate : candidates) {
      if (!velt::remoting::sameObject(candidate->client(), client)) continue;
      std::lock_guard<std::mutex> lock(m_filters->mutex);
      auto found = std::find_if(m_filters->list.begin(), m_filters->list.end(),
                                [&](const auto& kept) { return kept.get() == candidate.get(); });
      if (found == m_filters->list.end()) return {};  // cancelled meanwhile
      ComPtr<EventFilterSink> taken = std::move(*found);
      m_filters->list.erase(found);
      return taken;
    }
#endif
    return {};
  }

  HRESULT locate(const std::u16string& path, std::optional<ParsedPath>& parsed,
                 std::shared_ptr<const ClassDef>& def) {
    parsed = parseObjectPath(path);
    if (!parsed) return WBEM_E_INVALID_OBJECT_PATH;
    if (!parsed->nameSpace.empty() && !equalsIgnoreCase(parsed->nameSpace, m_name)) {
      return WBEM_E_INVALID_NAMESPACE;
    }
    def = m_state->repository.findClass(m_name, parsed->className);
    if (!def) return parsed->isInstance ? WBEM_E_INVALID_CLASS : WBEM_E_NOT_FOUND;
    return WBEM_S_NO_ERROR;
  }

  template <class Call>
  HRESULT route(const ClassDef& def, Operation op, IWbemContext* context, IWbemObjectSink* sink,
                Call call) {
    if (!qualifierIsSet(def.qualifiers, u"dynamic")) {
      // Nothing stores static instances here: none can be found, listed or written.
      if (op == Operation::kEnumerate) return complete(sink, WBEM_S_NO_ERROR);
      return complete(sink, op == Operation::kGet ? WBEM_E_NOT_FOUND : WBEM_E_NOT_SUPPORTED);
    }
    const Qualifier* named = findQualifier(def.qualifiers, u"provider");
    std::optional<ProviderRegistration> registration =
        named ? m_state->repository.findProvider(m_name, named->value.asText()) : std::nullopt;
    if (!registration) return complete(sink, WBEM_E_PROVIDER_NOT_FOUND);
    bool capable =
        op == Operation::kMethod ? registration->methodProvider : registration->instanceProvider;
    if (op == Operation::kGet) capable = capable && registration->supportsGet;
    if (op == Operation::kPut) capable = capable && registration->supportsPut;
    if (op == Operation::kEnumerate) capable = capable && registration->supportsEnumeration;
    if (!capable) return complete(sink, WBEM_E_PROVIDER_NOT_CAPABLE);
    std::shared_ptr<ProviderEntry> entry;
    ComPtr<IWbemClassObject> failureStatus;
    HRESULT hr = m_state->provider(m_name, *registration, context, entry, &failureStatus);
    if (FAILED(hr)) {
      sink->SetStatus(WBEM_STATUS_COMPLETE, hr, nullptr, failureStatus.get());
      return WBEM_S_NO_ERROR;
    }
    if (!entry->services) return complete(sink, WBEM_E_PROVIDER_NOT_CAPABLE);
    ComPtr<IWbemObjectSink> forward = makeForwardingSink(sink, entry);
    hr = call(entry->services.get(), forward.get());
    if (providerDied(hr)) m_state->providerLost(entry);
    finishForwarding(forward.get(), providerStatus(hr));
    return WBEM_S_NO_ERROR;
  }

  std::shared_ptr<ServiceState> m_state;
  const std::u16string m_name;
  const std::shared_ptr<Filters> m_filters;
  const std::shared_ptr<void> m_keeper;
};

}  // namespace

ComPtr<IWbemServices> makeNamespace(std::shared_ptr<ServiceState> state, std::u16string name) {
  return ComPtr<IWbemServices>(
      new Namespace(std::move(state), std::move(name), std::make_shared<Filters>(), nullptr));
}

ComPtr<IWbemServices> keepingNamespace(IWbemServices* shared, std::shared_ptr<void> keeper) {
  return static_cast<Namespace*>(shared)->keeping(std::move(keeper));
}

}  // namespace velt::wmi::detail
