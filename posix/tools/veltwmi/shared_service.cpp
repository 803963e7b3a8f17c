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
    : daemonExecutable_(std::move(daemonExecutable)), repositoryPath_(std::move(repositoryPath)) {}

void SharedService::ensureRegistered() const {
  std::error_code ignored;
  std::string registered = commandProgram(veltwmid::registeredCommand());
  // A registration naming a program that is gone (a moved or removed build) is as good as none.
  if (!registered.empty() && std::filesystem::exists(registered, ignored)) return;
  if (!std::filesystem::exists(daemonExecutable_, ignored)) {
    throw Failure(kExitSetup, "the WMI service is not registered and " + daemonExecutable_ +
                                  " is missing: install veltwmid beside veltwmi, or register "
                                  "one with veltwmid -RegServer");
  }
  std::string error;
  if (!veltwmid::registerDaemon(daemonExecutable_, error)) {
    throw Failure(kExitSetup, "the WMI service " + daemonExecutable_ +
                                  " is not registered: " + error + " (run it with -RegServer)");
  }
}

std::string SharedService::daemonLog() const {
  std::string registered = commandProgram(veltwmid::registeredCommand());
  return (registered.empty() ? daemonExecutable_ : registered) + ".console.log";
}

IWbemLocator* SharedService::locator() {
  if (locator_) return locator_.get();
  ensureRegistered();
  HRESULT hr = CoCreateInstance(velt::wmi::CLSID_VeltWmiServiceLocator, nullptr,
                                CLSCTX_LOCAL_SERVER, IID_IWbemLocator, locator_.putVoid());
  if (FAILED(hr) || !locator_) {
    locator_.reset();
    throw Failure(kExitSetup, "the WMI service veltwmid cannot be reached: " + describeStatus(hr) +
                                  "\n  what it printed is in " + daemonLog());
  }
  return locator_.get();
}

ComPtr<IWbemServices> SharedService::connect(const std::string& nameSpace) {
  IWbemLocator* service = locator();
  ComPtr<IWbemContext> context;
  if (SUCCEEDED(velt::wmi::createContext(context.put()))) {
    OwnedVariant path;
    path.get()->vt = VT_BSTR;
    path.get()->bstrVal = bstrFromUtf8(repositoryPath_).release();
    context->SetValue(veltwmid::kRepositoryContextName, 0, path.get());
  }
  UniqueBstr resource = bstrFromUtf8(nameSpace);
  ComPtr<IWbemServices> ns;
  HRESULT hr = service->ConnectServer(resource.get(), nullptr, nullptr, nullptr, 0, nullptr,
                                      context.get(), ns.put());
  if (hr == veltwmid::kOtherRepository) {
    throw Failure(kExitSetup,
                  "the running WMI service veltwmid holds another repository than " +
                      repositoryPath_ +
                      "\n  it was started with another XDG_DATA_HOME: end it (or let it go idle) "
                      "or run veltwmi with the same XDG_DATA_HOME");
  }
  if (FAILED(hr) || !ns) {
    if (hr == RPC_E_DISCONNECTED) *lost_ = true;
    throw Failure(kExitSetup,
                  "namespace " + nameSpace + ": " + describeStatus(hr) +
                      (hr == RPC_E_DISCONNECTED
                           ? " (the WMI service veltwmid went away)"
                           : " (the repository has no such namespace; see mofcomp, --mof and "
                             "--namespace)"));
  }
  std::shared_ptr<std::atomic<bool>> lost = lost_;
  velt::remoting::whenDisconnected(ns.get(), [lost] { *lost = true; });
  return ns;
}

}  // namespace veltwmi
