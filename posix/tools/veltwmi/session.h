// One client session: the WMI stand-in with the user's repository. COM starts the provider's
// server on first use (or reaches the one already running for every client of the user); the
// server ends by itself once no client holds anything of it.
#pragma once

#include <map>
#include <string>
#include <vector>

#include <winplatform/posix_hooks.h>

#include "com_support.h"
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
};

class Session {
 public:
  // Opens the repository and compiles every MOF into it; throws Failure(kExitSetup) naming the
  // file and the fault.
  Session(const std::vector<std::string>& mofFiles, ServerHost host,
          const RepositorySetup& repository = {});
  ~Session();  // releases the providers (and waits for an in-process server to end)
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // The namespace's services (kept by the session); throws Failure(kExitSetup).
  IWbemServices* nameSpace(const std::string& name);
  // The class definition; throws Failure(kExitUsage) when the namespace has no such class.
  ComPtr<IWbemClassObject> classObject(IWbemServices* ns, const std::string& className);

  // The repository, for what the namespaces' services do not tell (the registrations), and
  // for compiling into it.
  velt::wmi::Service& service() { return service_; }
  const velt::wmi::Service& service() const { return service_; }

  // The failure message for a WMI status: its name and code, and where to look further.
  std::string failureText(const std::string& what, HRESULT status) const;

 private:
  static velt::wmi::ServiceOptions serviceOptions(const RepositorySetup& repository);
  std::string serverFolder() const;
  std::string serverLog() const;

  ServerHost host_;
  velt::wmi::Service service_;
  std::map<std::string, ComPtr<IWbemServices>> namespaces_;
  bool comInitialized_ = false;
};

constexpr const char* kDefaultNamespace = "root\\norvex\\sample";

}  // namespace veltwmi
