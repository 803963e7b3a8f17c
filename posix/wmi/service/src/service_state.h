// What the service and its namespaces share: the repository, the provider cache and the
// event subscriptions.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <thread>

#include "repository.h"
#include "wmi/service.h"
#include "wmi_model/class_model.h"
#include "wmi_model/com_object.h"

namespace velt::wmi::detail {

class EventFanout;

struct ProviderEntry {
  ComPtr<IUnknown> unknown;
  ComPtr<IWbemServices> services;
  ComPtr<IWbemEventProvider> events;
  ComPtr<EventFanout> fanout;  // set once ProvideEvents was called
  // Requests using the provider now, and when the last one ended (steady clock, ms): what
  // the idle release goes by.
  std::atomic<int> requests{0};
  std::atomic<std::int64_t> lastUsedMs{0};
};

struct ServiceState : std::enable_shared_from_this<ServiceState> {
  ServiceState(ServiceOptions options, std::u16string serverName)
      : options(std::move(options)),
        serverName(std::move(serverName)),
        repository(this->options.repositoryPath, this->serverName) {}

  ServiceOptions options;
  std::u16string serverName;
  Repository repository;

  std::mutex mutex;  // guards everything below
  bool shutDown = false;
  std::map<std::u16string, ComPtr<IWbemServices>> namespaces;          // by lower-case name
  std::map<std::u16string, std::shared_ptr<ProviderEntry>> providers;  // "ns|provider", lower case
  std::mutex activation;                                               // one activation at a time
  std::condition_variable idleWake;  // with `mutex`: shutdown ends the idle release
  std::thread idleRelease;           // runs while providerIdleMs is set

  // The cached provider, activated (created, initialised) on first use, counted as in use until
  // the last copy of `out` goes. When its
  // initialisation fails, `failureStatus` gets the status object the provider gave, if any.
  HRESULT provider(const std::u16string& nameSpace, const ProviderRegistration& registration,
                   IWbemContext* context, std::shared_ptr<ProviderEntry>& out,
                   ComPtr<IWbemClassObject>* failureStatus = nullptr);
  // Adds an event subscription of `sink` for `eventClass`, calling ProvideEvents on first use.
  // `client` is the sink the client handed (`sink` itself unless a filter stands between them):
  // the subscription ends when the client's process is gone.
  HRESULT subscribe(const std::u16string& nameSpace, const ProviderRegistration& registration,
                    const std::u16string& eventClass, IWbemContext* context, IWbemObjectSink* sink,
                    IWbemObjectSink* client = nullptr);
  // Ends the subscription of `sink`; false when it had none.
  bool cancel(IWbemObjectSink* sink);
  // Unloads the cached providers that a repository change left serving classes or
  // registrations that are no longer; their event subscriptions end with WBEM_E_SHUTTING_DOWN.
  // The next request activates them afresh.
  void unloadStaleProviders();
  // A provider whose server is gone: forgotten, so the next request starts another, and its
  // subscriptions ended with WBEM_E_PROVIDER_FAILURE.
  void providerLost(const std::shared_ptr<ProviderEntry>& entry);
  // The namespace `name`; with a keeper, an object of its own that keeps it (see
  // Service::openNamespace), else the one all share.
  HRESULT namespaceServices(const std::u16string& name, IWbemServices** out,
                            const std::shared_ptr<void>& keeper = nullptr);
  // Releases the providers idle for providerIdleMs, until shutdown.
  void releaseIdleProviders();
};

ComPtr<IWbemServices> makeNamespace(std::shared_ptr<ServiceState> state, std::u16string name);
// `shared`, a namespace makeNamespace made, as an object of its own keeping `keeper`.
ComPtr<IWbemServices> keepingNamespace(IWbemServices* shared, std::shared_ptr<void> keeper);

// Passes a provider's results to the client's sink and remembers whether the final status went.
// Keeps `use` (the provider's entry, as in use) until the final status went or the provider let
// the sink go: a provider answering after its call returned is still busy.
ComPtr<IWbemObjectSink> makeForwardingSink(IWbemObjectSink* client,
                                           std::shared_ptr<ProviderEntry> use = nullptr);
// The status a client sees for what a provider answered: a provider whose server died (the
// disconnection statuses of COM) failed as WMI reports it, WBEM_E_PROVIDER_FAILURE.
bool providerDied(HRESULT status);
HRESULT providerStatus(HRESULT status);

// After the provider returned: a failure it did not report through the sink goes there now.
void finishForwarding(IWbemObjectSink* forwardingSink, HRESULT providerResult);

}  // namespace velt::wmi::detail
