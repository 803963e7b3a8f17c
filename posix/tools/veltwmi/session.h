// One client session: the WMI stand-in with the loaded MOF. COM starts the provider's server on
// first use (or reaches the one already running for every client of the user); the server ends
// by itself once no client holds anything of it.
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

class Session {
 public:
  // Loads every MOF; throws Failure(kExitSetup) naming the file and the fault.
  Session(const std::vector<std::string>& mofFiles, ServerHost host);
  ~Session();  // releases the providers (and waits for an in-process server to end)
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // The namespace's services (kept by the session); throws Failure(kExitSetup).
  IWbemServices* nameSpace(const std::string& name);
  // The class definition; throws Failure(kExitUsage) when the namespace has no such class.
  ComPtr<IWbemClassObject> classObject(IWbemServices* ns, const std::string& className);

  // The loaded MOF, for what the namespaces' services do not tell (the registrations).
  const velt::wmi::Service& service() const { return service_; }

  // The failure message for a WMI status: its name and code, and where to look further.
  std::string failureText(const std::string& what, HRESULT status) const;

 private:
  std::string serverFolder() const;
  std::string serverLog() const;

  ServerHost host_;
  velt::wmi::Service service_;
  std::map<std::string, ComPtr<IWbemServices>> namespaces_;
  bool comInitialized_ = false;
};

constexpr const char* kDefaultNamespace = "root\\norvex\\sample";

}  // namespace veltwmi
