// What the MOF reader leaves behind: per namespace, the class definitions and the provider
// registrations.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <shared_mutex>
#include <string>
#include <vector>

#include "wmi_model/class_model.h"

namespace velt::wmi::detail {

struct ProviderRegistration {
  std::u16string name;
  CLSID clsid{};
  bool instanceProvider = false;
  bool methodProvider = false;
  bool eventProvider = false;
  bool supportsGet = true;
  bool supportsPut = true;
  bool supportsEnumeration = true;
  std::vector<std::u16string> eventClasses;  // from the event query list
};

struct NamespaceData {
  std::u16string name;
  std::map<std::u16string, std::shared_ptr<const ClassDef>> classes;  // by lower-case name
  std::map<std::u16string, ProviderRegistration> providers;           // by lower-case name
};

class Repository {
 public:
  // The namespace of that name (case-insensitive), created when absent.
  NamespaceData& edit(const std::u16string& name);
  std::shared_ptr<const ClassDef> findClass(const std::u16string& nameSpace,
                                            const std::u16string& className) const;
  bool hasNamespace(const std::u16string& name) const;
  std::optional<NamespaceData> snapshot(const std::u16string& name) const;
  std::vector<NamespaceData> snapshots() const;
  // A copy of the registration, or nullopt.
  std::optional<ProviderRegistration> findProvider(const std::u16string& nameSpace,
                                                   const std::u16string& providerName) const;
  std::optional<ProviderRegistration> findEventProvider(const std::u16string& nameSpace,
                                                        const std::u16string& eventClass) const;
  std::u16string canonicalNamespaceName(const std::u16string& name) const;

  std::shared_mutex& mutex() { return mutex_; }

 private:
  mutable std::shared_mutex mutex_;
  std::map<std::u16string, NamespaceData> namespaces_;
};

}  // namespace velt::wmi::detail
