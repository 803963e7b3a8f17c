#include "repository.h"

#include <mutex>

namespace velt::wmi::detail {

NamespaceData& Repository::edit(const std::u16string& name) {
  NamespaceData& data = namespaces_[toLower(name)];
  if (data.name.empty()) data.name = name;
  return data;
}

std::shared_ptr<const ClassDef> Repository::findClass(const std::u16string& nameSpace,
                                                      const std::u16string& className) const {
  std::shared_lock lock(mutex_);
  auto ns = namespaces_.find(toLower(nameSpace));
  if (ns == namespaces_.end()) return nullptr;
  auto c = ns->second.classes.find(toLower(className));
  return c == ns->second.classes.end() ? nullptr : c->second;
}

bool Repository::hasNamespace(const std::u16string& name) const {
  std::shared_lock lock(mutex_);
  return namespaces_.count(toLower(name)) != 0;
}

std::optional<NamespaceData> Repository::snapshot(const std::u16string& name) const {
  std::shared_lock lock(mutex_);
  auto ns = namespaces_.find(toLower(name));
  if (ns == namespaces_.end()) return std::nullopt;
  return ns->second;
}

std::vector<NamespaceData> Repository::snapshots() const {
  std::shared_lock lock(mutex_);
  std::vector<NamespaceData> all;
  for (const auto& [key, data] : namespaces_) all.push_back(data);
  return all;
}

std::u16string Repository::canonicalNamespaceName(const std::u16string& name) const {
  std::shared_lock lock(mutex_);
  auto ns = namespaces_.find(toLower(name));
  return ns == namespaces_.end() ? name : ns->second.name;
}

std::optional<ProviderRegistration> Repository::findProvider(
    const std::u16string& nameSpace, const std::u16string& providerName) const {
  std::shared_lock lock(mutex_);
  auto ns = namespaces_.find(toLower(nameSpace));
  if (ns == namespaces_.end()) return std::nullopt;
  auto p = ns->second.providers.find(toLower(providerName));
  if (p == ns->second.providers.end()) return std::nullopt;
  return p->second;
}

std::optional<ProviderRegistration> Repository::findEventProvider(
    const std::u16string& nameSpace, const std::u16string& eventClass) const {
  std::shared_lock lock(mutex_);
  auto ns = namespaces_.find(toLower(nameSpace));
  if (ns == namespaces_.end()) return std::nullopt;
  for (const auto& [key, registration] : ns->second.providers) {
    if (!registration.eventProvider) continue;
    for (const std::u16string& c : registration.eventClasses) {
      if (equalsIgnoreCase(c, eventClass)) return registration;
    }
  }
  return std::nullopt;
}

}  // namespace velt::wmi::detail
