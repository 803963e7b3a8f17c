// The WMI service stand-in: namespaces compiled from MOF into a persistent repository, class
// objects and instances, contexts, and the activation of registered providers through COM,
// with requests routed to them.
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
  // The repository's SQLite file, shared with every Service that opens it; its folder is
  // created (private to the user) when missing. Empty: a repository in memory, this
  // Service's alone.
  std::string repositoryPath;
};

// Where the user's repository lives: $XDG_DATA_HOME/norvexvelt/repository.db, with
// ~/.local/share standing in for an unset or relative XDG_DATA_HOME.
std::string defaultRepositoryPath();

// What compiling a MOF text did, one entry per class and provider registration it declares.
struct CompiledItem {
  enum class Kind { kClass, kProvider };
  enum class Change { kAdded, kReplaced, kUnchanged };
  Kind kind = Kind::kClass;
  std::u16string nameSpace;
  std::u16string name;
  Change change = Change::kAdded;
};
using CompileReport = std::vector<CompiledItem>;

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
  // Throws std::runtime_error when the repository cannot be opened.
  explicit Service(ServiceOptions options = {});
  ~Service();  // shuts down
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;

  // Compiles a MOF file or text into the repository in one transaction; throws MofError,
  // adding nothing, on a fault (and std::runtime_error when the repository fails). A class
  // compiled again replaces its definition; providers serving a changed class are unloaded,
  // so that the next request activates them afresh.
  CompileReport loadMof(const std::string& path);
  CompileReport loadMofText(std::string_view text, const std::string& fileName);

  bool hasNamespace(const std::u16string& name) const;

  // The namespace's services, one reference for the caller; WBEM_E_INVALID_NAMESPACE when no
  // compiled MOF declared it. A `keeper` is held by the object handed out and by every
  // namespace opened from it, until the last of them is released: what a server counts to
  // know whether its clients still hold anything.
  HRESULT openNamespace(const std::u16string& name, IWbemServices** out,
                        std::shared_ptr<void> keeper = nullptr);

  // Ends event subscriptions and releases every provider; the namespaces stop serving.
  void shutdown();

  // Every namespace of the repository, with its provider registrations.
  std::map<std::u16string, std::vector<RegisteredProvider>> registrations() const;

  // How many providers are active (cached) now.
  std::size_t activeProviderCount() const;

 private:
  std::shared_ptr<detail::ServiceState> m_state;
};

}  // namespace velt::wmi
