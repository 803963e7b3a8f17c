#include "wmi/service.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "service_state.h"

namespace velt::wmi {
namespace detail {

void shutdownProviders(ServiceState& state);

HRESULT ServiceState::namespaceServices(const std::u16string& name, IWbemServices** out,
                                        const std::shared_ptr<void>& keeper) {
  if (!out) return WBEM_E_INVALID_PARAMETER;
  *out = nullptr;
  if (!repository.hasNamespace(name)) return WBEM_E_INVALID_NAMESPACE;
  std::lock_guard<std::mutex> lock(mutex);
  if (shutDown) return WBEM_E_SHUTTING_DOWN;
  ComPtr<IWbemServices>& ns = namespaces[toLower(name)];
  if (!ns) ns = makeNamespace(shared_from_this(), repository.canonicalNamespaceName(name));
  *out = (keeper ? keepingNamespace(ns.get(), keeper) : ComPtr<IWbemServices>(ns)).detach();
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

// The folders that are missing are created private to the user, as the XDG base directories
// ask.
void createFolderOf(const std::string& file) {
  std::filesystem::path folder = std::filesystem::path(file).parent_path();
  if (folder.empty()) return;
  std::filesystem::path at;
  for (const std::filesystem::path& part : folder) {
    at /= part;
    if (mkdir(at.c_str(), 0700) != 0 && errno != EEXIST) {
      throw std::runtime_error("cannot create the repository's folder " + at.string() + ": " +
                               std::strerror(errno));
    }
  }
}

}  // namespace

std::string defaultRepositoryPath() {
  const char* data = std::getenv("XDG_DATA_HOME");
  std::filesystem::path base;
  if (data && data[0] == '/') {
    base = data;
  } else {
    const char* home = std::getenv("HOME");
    base = std::filesystem::path(home && home[0] ? home : "/") / ".local" / "share";
  }
  return (base / "norvexvelt" / "repository.db").string();
}

Service::Service(ServiceOptions options) {
  reserveLowArena();
  std::u16string server = options.serverName.empty() ? hostName() : options.serverName;
  if (!options.repositoryPath.empty()) createFolderOf(options.repositoryPath);
  m_state = std::make_shared<detail::ServiceState>(std::move(options), std::move(server));
  if (m_state->options.providerIdleMs > 0) {
    m_state->idleRelease = std::thread([state = m_state.get()] { state->releaseIdleProviders(); });
  }
}

Service::~Service() { shutdown(); }

CompileReport Service::loadMof(const std::string& path) {
  // A folder opens like a file here and reads as empty: it would load nothing, silently.
  std::error_code ignored;
  if (std::filesystem::is_directory(path, ignored)) {
    throw MofError(path, 0, 0, "this is a folder, not a MOF file");
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) throw MofError(path, 0, 0, "cannot open the file");
  std::stringstream text;
  text << in.rdbuf();
  return loadMofText(text.str(), path);
}

CompileReport Service::loadMofText(std::string_view text, const std::string& fileName) {
  CompileReport report = m_state->repository.compile(text, fileName);
  m_state->unloadStaleProviders();
  return report;
}

bool Service::hasNamespace(const std::u16string& name) const {
  return m_state->repository.hasNamespace(name);
}

HRESULT Service::openNamespace(const std::u16string& name, IWbemServices** out,
                               std::shared_ptr<void> keeper) {
  return m_state->namespaceServices(name, out, keeper);
}

void Service::shutdown() {
  detail::shutdownProviders(*m_state);
  if (m_state->idleRelease.joinable()) m_state->idleRelease.join();
}

std::map<std::u16string, std::vector<RegisteredProvider>> Service::registrations() const {
  std::map<std::u16string, std::vector<RegisteredProvider>> all;
  for (const detail::NamespaceData& ns : m_state->repository.snapshots()) {
    std::vector<RegisteredProvider>& providers = all[ns.name];
    for (const auto& [key, r] : ns.providers) {
      providers.push_back(
          {r.name, r.clsid, r.instanceProvider, r.methodProvider, r.eventProvider, r.eventClasses});
    }
  }
  return all;
}

std::size_t Service::activeProviderCount() const {
  std::lock_guard<std::mutex> lock(m_state->mutex);
  return m_state->providers.size();
}

}  // namespace velt::wmi
