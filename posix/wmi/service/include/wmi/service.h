// The WMI service stand-in: namespaces read from MOF, class objects and instances, contexts,
// and the activation of registered providers through COM, with requests routed to them.
//
//   velt::wmi::Service service;
//   service.loadMof("sample.mof");                       // throws velt::wmi::MofError
//   IWbemServices* ns = nullptr;
//   service.openNamespace(OLESTR("root\\norvex\\sample"), &ns);
//   RecordingSink* sink = RecordingSink::create();
//   ns->GetObjectAsync(path, 0, nullptr, sink);          // activates the class's provider
//   sink->waitForFinalStatus(std::chrono::seconds(10));
//   ...release everything...; service.shutdown();        // releases providers
//   velt::wmi::liveObjectCount() == 0
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <wbemprov.h>

#include "wmi_model/mof_error.h"
#include "wmi_model/objects.h"
#include "wmi_model/recording_sink.h"

namespace velt::wmi {

struct ServiceOptions {
  std::u16string serverName;               // empty: the host's name
  unsigned providerInitTimeoutMs = 30000;  // how long Initialize may take to report
  // How long a provider stays loaded after its last request ended, when it serves no event
  // subscription; 0 keeps every provider until shutdown.
  unsigned providerIdleMs = 0;
};

namespace detail {
struct ServiceState;
}

// A provider registration as the loaded MOF declared it, for tools that check it.
struct RegisteredProvider {
  std::u16string name;
  CLSID clsid{};
  bool instances = false, methods = false, events = false;
  std::vector<std::u16string> eventClasses;  // from the EventQueryList
};

class Service {
 public:
  explicit Service(ServiceOptions options = {});
  ~Service();  // shuts down
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;

  // Reads a MOF file or text into the repository; throws MofError, adding nothing, on a fault.
  void loadMof(const std::string& path);
  void loadMofText(std::string_view text, const std::string& fileName);

  // The namespace's services, one reference for the caller; WBEM_E_INVALID_NAMESPACE when no
  // MOF declared it.
  HRESULT openNamespace(const std::u16string& name, IWbemServices** out);

  // Ends event subscriptions and releases every provider; the namespaces stop serving.
  void shutdown();

  // Every namespace the loaded MOF declared, with its provider registrations.
  std::map<std::u16string, std::vector<RegisteredProvider>> registrations() const;

  // How many providers are active (cached) now.
  std::size_t activeProviderCount() const;

 private:
  std::shared_ptr<detail::ServiceState> state_;
};

}  // namespace velt::wmi
