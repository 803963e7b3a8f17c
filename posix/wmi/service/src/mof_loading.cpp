#include "mof_loading.h"

#include "provider_registrations.h"
#include "repository_build.h"

namespace velt::wmi::detail {

StagedMof stageMof(std::string_view text, const std::string& fileName, const std::u16string& server,
                   const Contents& current) {
  StagedMof staged;
  staged.document = readMof(text, fileName, server,
                            [&](const std::u16string& nameSpace,
                                const std::u16string& name) -> std::shared_ptr<const ClassDef> {
                              auto ns = current.namespaces.find(toLower(nameSpace));
                              if (ns == current.namespaces.end()) return nullptr;
                              auto found = ns->second.classes.find(toLower(name));
                              return found == ns->second.classes.end() ? nullptr : found->second;
                            });
  StagedNamespace stage = [&](const std::u16string& name) -> NamespaceData& {
    auto it = staged.namespaces.find(toLower(name));
    if (it == staged.namespaces.end()) {
      NamespaceData copy;
      auto existing = current.namespaces.find(toLower(name));
      if (existing != current.namespaces.end()) {
        copy = existing->second;
      } else {
        copy.name = name;
        addStatusClasses(copy, server);
      }
      it = staged.namespaces.emplace(toLower(name), std::move(copy)).first;
    }
    return it->second;
  };
  for (const std::shared_ptr<const ClassDef>& def : staged.document.classes) {
    stage(def->nameSpace).classes[toLower(def->name)] = def;
  }
  registerProviders(staged.document, stage);
  return staged;
}

}  // namespace velt::wmi::detail
