// What the repository holds per namespace: the class definitions and the provider
// registrations.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
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

  bool operator==(const ProviderRegistration& other) const;
};

struct NamespaceData {
  std::u16string name;
  std::map<std::u16string, std::shared_ptr<const ClassDef>> classes;  // by lower-case name
  std::map<std::u16string, ProviderRegistration> providers;           // by lower-case name
};

// The whole repository as one Service serves it.
struct Contents {
  int64_t generation = -1;
  std::map<std::u16string, NamespaceData> namespaces;  // by lower-case name
  std::map<std::u16string, int64_t> revisions;         // of each stored class, by "ns|class"
};

inline std::u16string classKey(const std::u16string& nameSpace, const std::u16string& name) {
  return toLower(nameSpace) + u"|" + toLower(name);
}

}  // namespace velt::wmi::detail
