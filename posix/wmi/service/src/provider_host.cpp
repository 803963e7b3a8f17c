// Provider activation through COM and the sinks that carry provider results back.
#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <set>

#include <objbase.h>
#include <windows.h>

#include <owners/clsid_text.h>
#include <owners/unique_handle.h>

#include "service_state.h"

#ifndef _WIN32
#include <winplatform/remoting.h>
#endif

namespace velt::wmi::detail {

class ForwardingSink final : public ComObject<IWbemObjectSink, IID_IWbemObjectSink> {
 public:
  ForwardingSink(IWbemObjectSink* client, std::shared_ptr<ProviderEntry> use)
      : m_client(ComPtr<IWbemObjectSink>::share(client)), m_use(std::move(use)) {}

  STDMETHODIMP Indicate(LONG count, IWbemClassObject** objects) override {
    return m_client->Indicate(count, objects);
  }
  STDMETHODIMP SetStatus(LONG flags, HRESULT status, BSTR text, IWbemClassObject* object) override {
    if (flags == WBEM_STATUS_COMPLETE) m_completed = true;
    HRESULT answered = m_client->SetStatus(flags, status, text, object);
    if (flags == WBEM_STATUS_COMPLETE) endUse();
    return answered;
  }
  void finish(HRESULT providerResult) {
    if (FAILED(providerResult) && !m_completed.exchange(true)) {
      m_client->SetStatus(WBEM_STATUS_COMPLETE, providerResult, nullptr, nullptr);
      endUse();
    }
  }

 private:
  void endUse() {
    std::lock_guard<std::mutex> lock(m_useMutex);
    m_use.reset();
  }

  ComPtr<IWbemObjectSink> m_client;
  std::atomic<bool> m_completed{false};
  std::mutex m_useMutex;
  std::shared_ptr<ProviderEntry> m_use;
};

bool providerDied(HRESULT status) {
  return status == RPC_E_DISCONNECTED || status == HRESULT(0x800706BA) /* server unavailable */ ||
         status == HRESULT(0x80010007) /* server died */ ||
         status == HRESULT(0x80010012) /* server died, not executed */;
}

HRESULT providerStatus(HRESULT status) {
  return providerDied(status) ? HRESULT(WBEM_E_PROVIDER_FAILURE) : status;
}

ComPtr<IWbemObjectSink> makeForwardingSink(IWbemObjectSink* client,
                                           std::shared_ptr<ProviderEntry> use) {
  return ComPtr<IWbemObjectSink>(new ForwardingSink(client, std::move(use)));
}
void finishForwarding(IWbemObjectSink* forwardingSink, HRESULT providerResult) {
  static_cast<ForwardingSink*>(forwardingSink)->finish(providerResult);
}

// Hands every event the provider fires to the subscribers of its class.
class EventFanout final : public ComObject<IWbemObjectSink, IID_IWbemObjectSink> {
 public:
  struct Subscription {
    ComPtr<IWbemObjectSink> sink;
    std::u16string eventClass;
    std::shared_ptr<const int> token;  // names this subscription, whatever becomes of `sink`
  };

  STDMETHODIMP Indicate(LONG count, IWbemClassObject** objects) override {
    if (count < 0 || (count > 0 && !objects)) return WBEM_E_INVALID_PARAMETER;
    std::vector<Subscription> subscribers;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      subscribers = m_subscriptions;
    }
    for (LONG i = 0; i < count; ++i) {
      IWbemClassObject* event = objects[i];
      if (!event) continue;
      Variant cls;
      event->Get(u"__CLASS", 0, cls.get(), nullptr, nullptr);
      for (Subscription& s : subscribers) {
        if (equalsIgnoreCase(cls.asText(), s.eventClass) ||
            event->InheritsFrom(s.eventClass.c_str()) == WBEM_S_NO_ERROR) {
          // Each client gets an object of its own: one shared object has one enumeration
          // position, which clients enumerating at once would take from each other.
          ComPtr<IWbemClassObject> copy;
          if (FAILED(event->Clone(copy.put()))) continue;
          IWbemClassObject* own = copy.get();
          s.sink->Indicate(1, &own);
        }
      }
    }
    return WBEM_S_NO_ERROR;
  }
  STDMETHODIMP SetStatus(LONG, HRESULT, BSTR, IWbemClassObject*) override {
    return WBEM_S_NO_ERROR;
  }

  std::weak_ptr<const int> add(IWbemObjectSink* sink, const std::u16string& eventClass) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto token = std::make_shared<const int>(0);
    m_subscriptions.push_back({ComPtr<IWbemObjectSink>::share(sink), eventClass, token});
    return token;
  }
  void remove(const std::weak_ptr<const int>& token) {
    std::shared_ptr<const int> named = token.lock();
    if (!named) return;
    std::lock_guard<std::mutex> lock(m_mutex);
    std::erase_if(m_subscriptions, [&](const Subscription& s) { return s.token == named; });
  }
  ComPtr<IWbemObjectSink> remove(IWbemObjectSink* sink) {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      for (auto it = m_subscriptions.begin(); it != m_subscriptions.end(); ++it) {
        if (it->sink.get() == sink) {
          ComPtr<IWbemObjectSink> found = it->sink;
          m_subscriptions.erase(it);
          return found;
        }
      }
    }
#ifndef _WIN32
    // A client in another process hands its sink anew to every call: the proxy differs, the
    // object it stands for is the same. Asking costs calls, made outside the lock.
    std::vector<Subscription> candidates;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      candidates = m_subscriptions;
    }
    for (const Subscription& s : candidates) {
      if (!velt::remoting::sameObject(s.sink.get(), sink)) continue;
      std::lock_guard<std::mutex> lock(m_mutex);
      auto found = std::find_if(m_subscriptions.begin(), m_subscriptions.end(),
                                [&](const Subscription& kept) { return kept.token == s.token; });
      if (found == m_subscriptions.end()) return {};  // ended meanwhile
      ComPtr<IWbemObjectSink> ended = found->sink;
      m_subscriptions.erase(found);
      return ended;
    }
#endif
    return {};
  }
  bool empty() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_subscriptions.empty();
  }
  std::vector<Subscription> takeAll() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::move(m_subscriptions);
  }

 private:
  std::mutex m_mutex;
  std::vector<Subscription> m_subscriptions;
};

namespace {

// What a provider's Initialize reported.
struct InitOutcome {
  std::mutex mutex;
  std::condition_variable reported;
  std::optional<LONG> status;
  ComPtr<IWbemClassObject> statusObject;  // why it failed, when the provider said so
};

// The init sink also takes, as an IWbemObjectSink, a status object that says why an
// initialisation failed, which the init sink's own SetStatus has no room for. A provider that
// does not ask for it works as before.
class InitStatusSink final : public ComObject<IWbemObjectSink, IID_IWbemObjectSink> {
 public:
  explicit InitStatusSink(std::shared_ptr<InitOutcome> outcome) : m_outcome(std::move(outcome)) {}
  STDMETHODIMP Indicate(LONG, IWbemClassObject**) override { return WBEM_E_NOT_SUPPORTED; }
  STDMETHODIMP SetStatus(LONG, HRESULT, BSTR, IWbemClassObject* object) override {
    std::lock_guard<std::mutex> lock(m_outcome->mutex);
    if (!m_outcome->statusObject) m_outcome->statusObject = ComPtr<IWbemClassObject>::share(object);
    return WBEM_S_NO_ERROR;
  }

 private:
  std::shared_ptr<InitOutcome> m_outcome;
};

class InitSink final : public ComObject<IWbemProviderInitSink, IID_IWbemProviderInitSink> {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (out != nullptr && iid == IID_IWbemObjectSink) {
      *out = static_cast<IWbemObjectSink*>(new InitStatusSink(m_outcome));
      return S_OK;
    }
    return ComObject::QueryInterface(iid, out);
  }
  STDMETHODIMP SetStatus(LONG status, LONG) override {
    std::lock_guard<std::mutex> lock(m_outcome->mutex);
    if (!m_outcome->status) m_outcome->status = status;
    m_outcome->reported.notify_all();
    return WBEM_S_NO_ERROR;
  }
  std::optional<LONG> wait(unsigned timeoutMs) {
    std::unique_lock<std::mutex> lock(m_outcome->mutex);
    m_outcome->reported.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                 [&] { return m_outcome->status.has_value(); });
    return m_outcome->status;
  }
  ComPtr<IWbemClassObject> statusObject() {
    std::lock_guard<std::mutex> lock(m_outcome->mutex);
    return m_outcome->statusObject;
  }

 private:
  std::shared_ptr<InitOutcome> m_outcome = std::make_shared<InitOutcome>();
};

std::int64_t nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The entry as the caller's: counted in use until the last copy goes, then idle from then on.
std::shared_ptr<ProviderEntry> inUse(const std::shared_ptr<ProviderEntry>& entry) {
  ++entry->requests;
  return std::shared_ptr<ProviderEntry>(entry.get(), [held = entry](ProviderEntry* used) {
    used->lastUsedMs = nowMs();
    --used->requests;
  });
}

// COM would start a server only when its LocalServer32 entry exists.
bool registeredAsLocalServer(const CLSID& id) {
  std::string key = "CLSID\\" + velt::clsidText(id) + "\\LocalServer32";
  velt::UniqueRegistryKey handle;
  return RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, handle.put()) == ERROR_SUCCESS;
}

}  // namespace

HRESULT ServiceState::provider(const std::u16string& nameSpace,
                               const ProviderRegistration& registration, IWbemContext* context,
                               std::shared_ptr<ProviderEntry>& out,
                               ComPtr<IWbemClassObject>* failureStatus) {
  unloadStaleProviders();
  std::u16string key = toLower(nameSpace) + u"|" + toLower(registration.name);
  std::lock_guard<std::mutex> activating(activation);
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (shutDown) return WBEM_E_SHUTTING_DOWN;
    auto cached = providers.find(key);
    if (cached != providers.end()) {
      out = inUse(cached->second);
      return WBEM_S_NO_ERROR;
    }
  }
  if (!registeredAsLocalServer(registration.clsid)) return REGDB_E_CLASSNOTREG;

  auto entry = std::make_shared<ProviderEntry>();
  HRESULT hr = CoCreateInstance(registration.clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown,
                                reinterpret_cast<void**>(entry->unknown.put()));
  if (FAILED(hr)) return hr;
  ComPtr<IWbemProviderInit> init;
  if (FAILED(entry->unknown->QueryInterface(IID_IWbemProviderInit,
                                            reinterpret_cast<void**>(init.put())))) {
    return WBEM_E_PROVIDER_LOAD_FAILURE;
  }
  ComPtr<IWbemServices> ns;
  hr = namespaceServices(nameSpace, ns.put());
  if (FAILED(hr)) return hr;
  ComPtr<InitSink> sink(new InitSink());
  std::u16string name = repository.canonicalNamespaceName(nameSpace);
  hr = init->Initialize(nullptr, 0, name.data(), nullptr, ns.get(), context, sink.get());
  if (FAILED(hr)) return WBEM_E_PROVIDER_LOAD_FAILURE;
  std::optional<LONG> status = sink->wait(options.providerInitTimeoutMs);
  if (!status || FAILED(*status)) {
    if (failureStatus != nullptr) *failureStatus = sink->statusObject();
    return WBEM_E_PROVIDER_LOAD_FAILURE;
  }

  entry->unknown->QueryInterface(IID_IWbemServices,
                                 reinterpret_cast<void**>(entry->services.put()));
  entry->unknown->QueryInterface(IID_IWbemEventProvider,
                                 reinterpret_cast<void**>(entry->events.put()));
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (shutDown) return WBEM_E_SHUTTING_DOWN;  // the entry goes with this frame
    providers[key] = entry;
  }
#ifndef _WIN32
  // A server that dies takes its provider with it; the service learns it from the connection,
  // as subscriptions make no call that would fail.
  std::weak_ptr<ServiceState> self = weak_from_this();
  std::weak_ptr<ProviderEntry> watched = entry;
  velt::remoting::whenDisconnected(entry->unknown.get(), [self, watched] {
    std::shared_ptr<ServiceState> state = self.lock();
    std::shared_ptr<ProviderEntry> lost = watched.lock();
    if (state && lost) state->providerLost(lost);
  });
#endif
  out = inUse(entry);
  return WBEM_S_NO_ERROR;
}

void ServiceState::releaseIdleProviders() {
  const std::int64_t idleMs = options.providerIdleMs;
  const auto tick = std::chrono::milliseconds(std::clamp<std::int64_t>(idleMs / 4, 10, 1000));
  while (true) {
    {
      std::unique_lock<std::mutex> lock(mutex);
      if (idleWake.wait_for(lock, tick, [this] { return shutDown; })) return;
    }
    std::vector<std::shared_ptr<ProviderEntry>> released;
    {
      // Under the activation lock no request can take an entry between the check and the
      // removal: an entry handed out is counted in use.
      std::lock_guard<std::mutex> activating(activation);
      std::lock_guard<std::mutex> lock(mutex);
      const std::int64_t now = nowMs();
      for (auto it = providers.begin(); it != providers.end();) {
        ProviderEntry& entry = *it->second;
        bool idle = entry.requests == 0 && now - entry.lastUsedMs >= idleMs &&
                    (!entry.fanout || entry.fanout->empty());
        if (idle) {
          released.push_back(std::move(it->second));
          it = providers.erase(it);
        } else {
          ++it;
        }
      }
    }
    // Released outside the locks: the last release of a provider in another process waits
    // for its answer.
    released.clear();
  }
}

void ServiceState::unloadStaleProviders() {
  std::set<std::u16string> stale = repository.takeStaleProviders();
  if (stale.empty()) return;
  std::vector<std::shared_ptr<ProviderEntry>> unloaded;
  std::vector<EventFanout::Subscription> ended;
  {
    std::lock_guard<std::mutex> activating(activation);
    std::lock_guard<std::mutex> lock(mutex);
    for (const std::u16string& key : stale) {
      auto found = providers.find(key);
      if (found == providers.end()) continue;
      if (found->second->fanout) {
        for (EventFanout::Subscription& s : found->second->fanout->takeAll()) {
          ended.push_back(std::move(s));
        }
      }
      unloaded.push_back(std::move(found->second));
      providers.erase(found);
    }
  }
  for (EventFanout::Subscription& s : ended) {
    s.sink->SetStatus(WBEM_STATUS_COMPLETE, WBEM_E_SHUTTING_DOWN, nullptr, nullptr);
  }
  // Dropping the entries releases the providers outside the locks.
}

void ServiceState::providerLost(const std::shared_ptr<ProviderEntry>& entry) {
  std::vector<EventFanout::Subscription> ended;
  {
    std::lock_guard<std::mutex> activating(activation);
    {
      std::lock_guard<std::mutex> lock(mutex);
      for (auto it = providers.begin(); it != providers.end(); ++it) {
        if (it->second == entry) {
          providers.erase(it);
          break;
        }
      }
    }
    if (entry->fanout) ended = entry->fanout->takeAll();
  }
  for (EventFanout::Subscription& s : ended) {
    s.sink->SetStatus(WBEM_STATUS_COMPLETE, WBEM_E_PROVIDER_FAILURE, nullptr, nullptr);
  }
}

HRESULT ServiceState::subscribe(const std::u16string& nameSpace,
                                const ProviderRegistration& registration,
                                const std::u16string& eventClass, IWbemContext* context,
                                IWbemObjectSink* sink, IWbemObjectSink* client) {
  std::shared_ptr<ProviderEntry> entry;
  HRESULT hr = provider(nameSpace, registration, context, entry);
  if (FAILED(hr)) return hr;
  if (!entry->events) return WBEM_E_PROVIDER_NOT_CAPABLE;
  std::lock_guard<std::mutex> activating(activation);  // one ProvideEvents per provider
  bool first = !entry->fanout;
  if (first) entry->fanout = ComPtr<EventFanout>(new EventFanout());
  std::weak_ptr<const int> subscription = entry->fanout->add(sink, eventClass);
  if (first) {
    hr = providerStatus(entry->events->ProvideEvents(entry->fanout.get(), 0));
    if (FAILED(hr)) {
      entry->fanout->remove(sink);
      entry->fanout = {};
      return hr;
    }
  }
#ifndef _WIN32
  // A client in another process that goes without cancelling ends its subscription, or the
  // provider would stay loaded for nobody.
  std::weak_ptr<ServiceState> self = weak_from_this();
  velt::remoting::whenDisconnected(client ? client : sink, [self, subscription] {
    std::shared_ptr<ServiceState> state = self.lock();
    if (!state) return;
    std::lock_guard<std::mutex> activating(state->activation);
    std::lock_guard<std::mutex> lock(state->mutex);
    for (auto& [key, provider] : state->providers) {
      if (provider->fanout) provider->fanout->remove(subscription);
    }
  });
#endif
  return WBEM_S_NO_ERROR;
}

bool ServiceState::cancel(IWbemObjectSink* sink) {
  std::vector<std::shared_ptr<ProviderEntry>> entries;
  {
    std::lock_guard<std::mutex> lock(mutex);
    for (auto& [key, entry] : providers) entries.push_back(entry);
  }
  std::vector<ComPtr<EventFanout>> fanouts;
  {
    std::lock_guard<std::mutex> activating(activation);
    for (auto& entry : entries) {
      if (entry->fanout) fanouts.push_back(entry->fanout);
    }
  }
  // Outside the activation lock: finding the sink may ask the client's process, and the
  // final status goes there too; a client slow to answer must not hold up every other.
  for (ComPtr<EventFanout>& fanout : fanouts) {
    if (ComPtr<IWbemObjectSink> found = fanout->remove(sink)) {
      found->SetStatus(WBEM_STATUS_COMPLETE, WBEM_E_CALL_CANCELLED, nullptr, nullptr);
      return true;
    }
  }
  return false;
}

void shutdownProviders(ServiceState& state) {
  std::map<std::u16string, std::shared_ptr<ProviderEntry>> providers;
  std::map<std::u16string, ComPtr<IWbemServices>> namespaces;
  {
    std::lock_guard<std::mutex> activating(state.activation);
    std::lock_guard<std::mutex> lock(state.mutex);
    state.shutDown = true;
    providers.swap(state.providers);
    namespaces.swap(state.namespaces);
  }
  state.idleWake.notify_all();
  for (auto& [key, entry] : providers) {
    if (!entry->fanout) continue;
    for (EventFanout::Subscription& s : entry->fanout->takeAll()) {
      s.sink->SetStatus(WBEM_STATUS_COMPLETE, WBEM_E_SHUTTING_DOWN, nullptr, nullptr);
    }
  }
  // Dropping the entries releases the providers; the server ends when its last object goes.
}

}  // namespace velt::wmi::detail
