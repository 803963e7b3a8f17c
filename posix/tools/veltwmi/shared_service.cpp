#include "shared_service.h"

#include <objbase.h>
#include <winplatform/remoting.h>

#include <filesystem>

#include "locator.h"
#include "registration.h"
#include "status_text.h"
#include "wmi/service_locator.h"
#include "wmi_model/objects.h"

namespace veltwmi {
namespace {

// The program a registered command line starts.
std::string commandProgram(const std::string& command) {
  if (!command.empty() && command.front() == '"') {
    std::size_t end = command.find('"', 1);
    return command.substr(1, end == std::string::npos ? std::string::npos : end - 1);
  }
  return command.substr(0, command.find_first_of(" \t"));
}

}  // namespace

SharedService::SharedService(std::string daemonExecutable, std::string repositoryPath)
    : m_daemonExecutable(std::move(daemonExecutable)),
      m_repositoryPath(std::move(repositoryPath)) {}

void SharedService::ensureRegistered() const {
  std::error_code ignored;
  std::string registered = commandProgram(veltwmid::registeredCommand());
  // A registration naming a program that is gone (a moved or removed build) is as good as none.
  if (!registered.empty() && std::filesystem::exists(registered, ignored)) return;
  if (!std::filesystem::exists(m_daemonExecutable, ignored)) {
    throw Failure(kExitSetup, "the WMI service is not registered and " + m_daemonExecutable +
                                  " is missing: install veltwmid beside veltwmi, or register "
                                  "one with veltwmid -RegServer");
  }
  std::string error;
  if (!veltwmid::registerDaemon(m_daemonExecutable, error)) {
    throw Failure(kExitSetup, "the WMI service " + m_daemonExecutable +
                                  " is not registered: " + error + " (run it with -RegServer)");
  }
}

std::string SharedService::daemonLog() const {
  std::string registered = commandProgram(veltwmid::registeredCommand());
  return (registered.empty() ? m_daemonExecutable : registered) + ".console.log";
}

IWbemLocator* SharedService::locator() {
  if (m_locator) return m_locator.get();
  ensureRegistered();
  HRESULT hr = CoCreateInstance(velt::wmi::CLSID_VeltWmiServiceLocator, nullptr,
                                CLSCTX_LOCAL_SERVER, IID_IWbemLocator, m_locator.putVoid());
  if (FAILED(hr) || !m_locator) {
    m_locator.reset();
    throw Failure(kExitSetup, "the WMI service veltwmid cannot be reached: " + describeStatus(hr) +
                                  "\n  what it printed is in " + daemonLog());
  }
  return m_locator.get();
}

ComPtr<IWbemServices> SharedService::connect(const std::string& nameSpace,
                                             const std::function<bool()>& provide) {
  IWbemLocator* service = locator();
  ComPtr<IWbemContext> context;
  if (SUCCEEDED(velt::wmi::createContext(context.put()))) {
    OwnedVariant path;
    path.get()->vt = VT_BSTR;
    path.get()->bstrVal = bstrFromUtf8(m_repositoryPath).release();
    context->SetValue(veltwmid::kRepositoryContextName, 0, path.get());
  }
  UniqueBstr resource = bstrFromUtf8(nameSpace);
  ComPtr<IWbemServices> ns;
  HRESULT hr = service->ConnectServer(resource.get(), nullptr, nullptr, nullptr, 0, nullptr,
                                      context.get(), ns.put());
  if (hr == WBEM_E_INVALID_NAMESPACE && provide && provide()) {
    hr = service->ConnectServer(resource.get(), nullptr, nullptr, nullptr, 0, nullptr,
                                context.get(), ns.put());
  }
  if (hr == veltwmid::kOtherRepository) {
    throw Failure(kExitSetup,
                  "the running WMI service veltwmid holds another repository than " +
                      m_repositoryPath +
                      "\n  it was started with another XDG_DATA_HOME: end it (or let it go idle) "
                      "or run veltwmi with the same XDG_DATA_HOME");
  }
  if (FAILED(hr) || !ns) {
    if (hr == RPC_E_DISCONNECTED) *m_lost = true;
    throw Failure(kExitSetup,
                  "namespace " + nameSpace + ": " + describeStatus(hr) +
                      (hr == RPC_E_DISCONNECTED
                           ? " (the WMI service veltwmid went away)"
                           : " (the repository has no such namespace; see mofcomp, --mof and "
                             "--namespace)"));
  }
  std::shared_ptr<std::atomic<bool>> lost = m_lost;
  velt::remoting::whenDisconnected(ns.get(), [lost] { *lost = true; });
  return ns;
}

}  // namespace veltwmi
