#include "wmi/service.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "mof_loading.h"
#include "service_state.h"

namespace velt::wmi {
namespace detail {

void shutdownProviders(ServiceState& state);

HRESULT ServiceState::namespaceServices(const std::u16string& name, IWbemServices** out) {
  if (!out) return WBEM_E_INVALID_PARAMETER;
  *out = nullptr;
  if (!repository.hasNamespace(name)) return WBEM_E_INVALID_NAMESPACE;
  std::lock_guard<std::mutex> lock(mutex);
  if (shutDown) return WBEM_E_SHUTTING_DOWN;
  ComPtr<IWbemServices>& ns = namespaces[toLower(name)];
  if (!ns) ns = makeNamespace(shared_from_this(), repository.canonicalNamespaceName(name));
  *out = ComPtr<IWbemServices>(ns).detach();
  return WBEM_S_NO_ERROR;
}

}  // namespace detail

namespace {

std::u16string hostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0 || !name[0]) return u"LOCALHOST";
  std::u16string out;
  for (const char* c = name; *c && *c != '.'; ++c) {
    out.push_back(char16_t(*c >= 'a' && *c <= 'z' ? *c - 'a' + 'A' : *c));
  }
  return out;
}

}  // namespace

Service::Service(ServiceOptions options) : state_(std::make_shared<detail::ServiceState>()) {
  reserveLowArena();
  state_->options = std::move(options);
  state_->serverName = state_->options.serverName.empty() ? hostName() : state_->options.serverName;
  if (state_->options.providerIdleMs > 0) {
    state_->idleRelease = std::thread([state = state_.get()] { state->releaseIdleProviders(); });
  }
}

Service::~Service() { shutdown(); }

void Service::loadMof(const std::string& path) {
  // A folder opens like a file here and reads as empty: it would load nothing, silently.
  std::error_code ignored;
  if (std::filesystem::is_directory(path, ignored)) {
    throw MofError(path, 0, 0, "this is a folder, not a MOF file");
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) throw MofError(path, 0, 0, "cannot open the file");
  std::stringstream text;
  text << in.rdbuf();
  loadMofText(text.str(), path);
}

void Service::loadMofText(std::string_view text, const std::string& fileName) {
  detail::loadMof(text, fileName, state_->serverName, state_->repository);
}

HRESULT Service::openNamespace(const std::u16string& name, IWbemServices** out) {
  return state_->namespaceServices(name, out);
}

void Service::shutdown() {
  detail::shutdownProviders(*state_);
  if (state_->idleRelease.joinable()) state_->idleRelease.join();
}

std::map<std::u16string, std::vector<RegisteredProvider>> Service::registrations() const {
  std::map<std::u16string, std::vector<RegisteredProvider>> all;
  for (const detail::NamespaceData& ns : state_->repository.snapshots()) {
    std::vector<RegisteredProvider>& providers = all[ns.name];
    for (const auto& [key, r] : ns.providers) {
      providers.push_back(
          {r.name, r.clsid, r.instanceProvider, r.methodProvider, r.eventProvider, r.eventClasses});
    }
  }
  return all;
}

std::size_t Service::activeProviderCount() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->providers.size();
}

}  // namespace velt::wmi
