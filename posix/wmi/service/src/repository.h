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

  const std::u16string server_;
  const bool inMemory_;

  std::mutex databaseMutex_;  // guards the connection and seenVersion_
  Database database_;
  int64_t seenVersion_ = -1;
  // While this Service compiles, requests are served from the cache rather than waiting for
  // the compile: it installs the newest contents when it ends.
  std::atomic<int> compiling_{0};

  mutable std::shared_mutex mutex_;  // guards the cache below
  Contents contents_;
  std::set<std::u16string> stale_;
};

}  // namespace velt::wmi::detail
