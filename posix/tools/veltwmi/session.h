// One client session. Its namespaces come from the WMI service every client of the user shares
// (veltwmid), or, for tests, from a WMI stand-in in this process. MOF files compile into the
// user's repository here, which the shared service reads again before its next request. COM
// starts the provider's server on first use (or reaches the one already running); the server
// ends by itself once nothing holds anything of it.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <winplatform/posix_hooks.h>

#include "com_support.h"
#include "shared_service.h"
#include "wmi/service.h"

namespace veltwmi {

struct ServerHost {
  // Tests only: a server entry run on a thread of this process instead of the registered
  // server process.
  VeltWinMainFunction entry = nullptr;
  std::string executablePath;  // where the server runs (or believes it runs); its logs are there
};

// The repository a session opens and what goes into it first.
struct RepositorySetup {
  std::string path;       // the SQLite file; empty: one in memory, for this session alone
  std::string sampleMof;  // compiled first when the repository lacks the sample's namespace
  // The shared service's program (veltwmid), registered when none is; empty: the namespaces
  // come from the stand-in in this process.
  std::string sharedService;
};

class Session {
 public:
  // Opens the repository and compiles every MOF into it; throws Failure(kExitSetup) naming the
  // file and the fault. With the shared service and no MOF of one's own, the repository is
  // opened only when something needs it here: the service holds it already, and a warm command
  // should not pay for opening it twice.
  Session(const std::vector<std::string>& mofFiles, ServerHost host,
          const RepositorySetup& repository = {});
  ~Session();  // releases the providers (and waits for an in-process server to end)
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // The namespace's services (kept by the session); throws Failure(kExitSetup).
  IWbemServices* nameSpace(const std::string& name);
  // The namespace as the repository holds it, read here without the shared service: for
  // reading definitions only, as no provider is loaded for it.
  IWbemServices* localNameSpace(const std::string& name);
  // Whether the shared service went away while the session used it.
  bool serviceLost() const { return m_shared && m_shared->lost(); }
  // The class definition; throws Failure(kExitUsage) when the namespace has no such class.
  ComPtr<IWbemClassObject> classObject(IWbemServices* ns, const std::string& className);

  // The repository, for what the namespaces' services do not tell (the registrations), and
  // for compiling into it; opened (and given the sample when it lacks it) on first use.
  velt::wmi::Service& service();

  // The failure message for a WMI status: its name and code, and where to look further.
  std::string failureText(const std::string& what, HRESULT status) const;

 private:
  static velt::wmi::ServiceOptions serviceOptions(const RepositorySetup& repository);
  void openRepository(const std::vector<std::string>& mofFiles);
  std::string serverFolder() const;
  std::string serverLog() const;

  ServerHost m_host;
  RepositorySetup m_repository;
  std::optional<velt::wmi::Service> m_service;
  std::unique_ptr<SharedService> m_shared;
  std::map<std::string, ComPtr<IWbemServices>> m_namespaces;
  std::map<std::string, ComPtr<IWbemServices>> m_localNamespaces;
  bool m_comInitialized = false;
};

constexpr const char* kDefaultNamespace = "root\\norvex\\sample";

}  // namespace veltwmi
