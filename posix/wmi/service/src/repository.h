// The repository a Service serves: namespaces, class definitions and provider registrations,
// stored in SQLite (in memory when no path is given) and cached here. Every read first looks
// whether another connection committed and then serves the new contents.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <set>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

#include "repository_types.h"
#include "sqlite_store.h"
#include "wmi/service.h"

namespace velt::wmi::detail {

class Repository {
 public:
  // Opens (creating) the store; throws RepositoryError.
  Repository(const std::string& path, std::u16string server);

  // Compiles a MOF text in one transaction; throws MofError, adding nothing, on a fault.
  CompileReport compile(std::string_view text, const std::string& fileName);

  std::shared_ptr<const ClassDef> findClass(const std::u16string& nameSpace,
                                            const std::u16string& className);
  bool hasNamespace(const std::u16string& name);
  std::optional<NamespaceData> snapshot(const std::u16string& name);
  std::vector<NamespaceData> snapshots();
  // A copy of the registration, or nullopt.
  std::optional<ProviderRegistration> findProvider(const std::u16string& nameSpace,
                                                   const std::u16string& providerName);
  std::optional<ProviderRegistration> findEventProvider(const std::u16string& nameSpace,
                                                        const std::u16string& eventClass);
  std::u16string canonicalNamespaceName(const std::u16string& name);

  // The "ns|provider" keys of cached providers that changes since the last call left serving
  // classes or registrations that are no longer; the caller unloads them.
  std::set<std::u16string> takeStaleProviders();

 private:
  // Serves what another connection committed since the last look.
  void refresh();
  // Installs new contents; the database lock is held.
  void install(Contents next, const std::set<std::u16string>& replaced);

  const std::u16string m_server;
  const bool m_inMemory;

  std::mutex m_databaseMutex;  // guards the connection and m_seenVersion
  Database m_database;
  int64_t m_seenVersion = -1;
  // While this Service compiles, requests are served from the cache rather than waiting for
  // the compile: it installs the newest contents when it ends.
  std::atomic<int> m_compiling{0};

  mutable std::shared_mutex m_mutex;  // guards the cache below
  Contents m_contents;
  std::set<std::u16string> m_stale;
};

}  // namespace velt::wmi::detail
