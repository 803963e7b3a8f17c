#include "session.h"

#include <objbase.h>

#include <cstdlib>
#include <filesystem>

#include "status_text.h"

namespace veltwmi {

velt::wmi::ServiceOptions Session::serviceOptions(const RepositorySetup& repository) {
  velt::wmi::ServiceOptions options;
  options.repositoryPath = repository.path;
  return options;
}

Session::Session(const std::vector<std::string>& mofFiles, ServerHost host,
                 const RepositorySetup& repository)
    : m_host(std::move(host)), m_repository(repository) {
  m_comInitialized = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
  if (repository.sharedService.empty() || !mofFiles.empty()) {
    try {
      openRepository(mofFiles);
    } catch (...) {
      if (m_comInitialized) CoUninitialize();
      throw;
    }
  }
  if (!repository.sharedService.empty()) {
    m_shared = std::make_unique<SharedService>(repository.sharedService, repository.path);
  }
  if (m_host.entry) {
    VeltSetLocalServerEntry(
        m_host.entry, nullptr,
        m_host.executablePath.empty() ? nullptr : m_host.executablePath.c_str());
  }
}

void Session::openRepository(const std::vector<std::string>& mofFiles) {
  try {
    m_service.emplace(serviceOptions(m_repository));
  } catch (const std::exception& fault) {
    m_service.reset();
    // The repository could not be opened.
    throw Failure(kExitSetup, fault.what());
  }
  std::vector<std::string> files = mofFiles;
  // The sample works out of the box: compiled into a repository that lacks it.
  if (!m_repository.sampleMof.empty() &&
      !m_service->hasNamespace(utf16FromUtf8(kDefaultNamespace))) {
    files.insert(files.begin(), m_repository.sampleMof);
  }
  for (const std::string& file : files) {
    try {
      m_service->loadMof(file);
    } catch (const std::exception& fault) {
      throw Failure(kExitSetup, fault.what());
    }
  }
}

velt::wmi::Service& Session::service() {
  if (!m_service) openRepository({});
  return *m_service;
}

Session::~Session() {
  m_namespaces.clear();
  m_localNamespaces.clear();
  m_shared.reset();
  if (m_service) m_service->shutdown();
  if (m_host.entry) {
    int exitCode = 0;
    VeltWaitForLocalServerExit(30000, &exitCode);
    VeltSetLocalServerEntry(nullptr, nullptr, nullptr);
  }
  if (m_comInitialized) CoUninitialize();
}

IWbemServices* Session::nameSpace(const std::string& name) {
  if (!m_shared) return localNameSpace(name);
  auto found = m_namespaces.find(name);
  if (found != m_namespaces.end()) return found->second.get();
  // A namespace the service lacks may be the sample's, which the repository gets when it is
  // opened here; then the service is asked once more.
  ComPtr<IWbemServices> ns = m_shared->connect(name, [this] {
    if (m_service) return false;
    openRepository({});
    return true;
  });
  return m_namespaces.emplace(name, std::move(ns)).first->second.get();
}

IWbemServices* Session::localNameSpace(const std::string& name) {
  auto found = m_localNamespaces.find(name);
  if (found != m_localNamespaces.end()) return found->second.get();
  ComPtr<IWbemServices> ns;
  HRESULT hr = service().openNamespace(utf16FromUtf8(name), ns.put());
  if (FAILED(hr)) {
    throw Failure(
        kExitSetup,
        "namespace " + name + ": " + describeStatus(hr) +
            " (the repository has no such namespace; see mofcomp, --mof and --namespace)");
  }
  return m_localNamespaces.emplace(name, ns).first->second.get();
}

ComPtr<IWbemClassObject> Session::classObject(IWbemServices* ns, const std::string& className) {
  ComPtr<IWbemClassObject> cls;
  UniqueBstr path = bstrFromUtf8(className);
  HRESULT hr = ns->GetObject(path.get(), 0, nullptr, cls.put(), nullptr);
  if (FAILED(hr) || !cls) {
    // The stand-in answers a class path it does not know with WBEM_E_NOT_FOUND and an
    // instance path with WBEM_E_INVALID_CLASS; every command names the one status.
    if (hr == WBEM_E_NOT_FOUND || SUCCEEDED(hr)) hr = WBEM_E_INVALID_CLASS;
    throw Failure(kExitUsage, "class " + className + ": " + describeStatus(hr) +
                                  " (veltwmi classes lists the known ones)");
  }
  return cls;
}

std::string Session::serverFolder() const {
  if (m_host.executablePath.empty()) return ".";
  return std::filesystem::path(m_host.executablePath).parent_path().string();
}

std::string Session::serverLog() const {
  // Where COM appends a started server's output, beside the executable it started.
  if (m_host.executablePath.empty()) return "VeltProxyProvider.console.log";
  return m_host.executablePath + ".console.log";
}

std::string Session::failureText(const std::string& what, HRESULT status) const {
  std::string text = what + ": " + describeStatus(status);
  std::string folder = serverFolder();
  switch (status) {
    case REGDB_E_CLASSNOTREG: {
      const char* store = std::getenv("VELT_REGISTRY");
      text += "\n  the provider's server is not registered: run " + folder +
              "/VeltProxyProvider -RegServer";
      if (store) text += std::string(" (registry: ") + store + ")";
      break;
    }
    case WBEM_E_FAILED:
    case WBEM_E_PROVIDER_LOAD_FAILURE:
    case WBEM_E_PROVIDER_FAILURE:
    case WBEM_E_INITIALIZATION_FAILURE:
    case CO_E_SERVER_EXEC_FAILURE:
    case E_FAIL:
      if (std::filesystem::exists(folder + "/qelvor.dbg")) {
        text += "\n  the provider's trace log has the details: " + folder + "/qelvor.log";
      } else {
        text +=
            "\n  for details switch the trace log on (touch " + folder + "/qelvor.dbg) and repeat";
      }
      if (status == CO_E_SERVER_EXEC_FAILURE || status == WBEM_E_PROVIDER_FAILURE) {
        text += "\n  what the provider's server printed is in " + serverLog();
      }
      break;
    case RPC_E_DISCONNECTED:
      if (m_shared)
        text += "\n  the WMI service veltwmid went away; the next command starts it again";
      break;
    default:
      break;
  }
  return text;
}

}  // namespace veltwmi
