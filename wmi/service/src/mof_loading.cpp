#include "mof_loading.h"

#include <map>
#include <mutex>

#include "provider_registrations.h"
#include "wmi_model/mof_reader.h"

namespace velt::wmi::detail {

void loadMof(std::string_view text, const std::string& fileName, const std::u16string& server,
             Repository& repository) {
  MofDocument document = readMof(text, fileName, server,
                                 [&](const std::u16string& nameSpace, const std::u16string& name) {
                                   return repository.findClass(nameSpace, name);
                                 });
  // Changes go to copies of the namespaces first, so that a fault leaves the repository as it was.
  std::map<std::u16string, NamespaceData> staged;
  StagedNamespace stage = [&](const std::u16string& name) -> NamespaceData& {
    auto it = staged.find(toLower(name));
    if (it == staged.end()) {
      NamespaceData copy;
      if (std::optional<NamespaceData> existing = repository.snapshot(name)) {
        copy = std::move(*existing);
      } else {
        copy.name = name;
      }
      it = staged.emplace(toLower(name), std::move(copy)).first;
    }
    return it->second;
  };
  for (const std::shared_ptr<const ClassDef>& def : document.classes) {
    stage(def->nameSpace).classes[toLower(def->name)] = def;
  }
  registerProviders(document, stage);
  std::unique_lock lock(repository.mutex());
  for (auto& [key, data] : staged) repository.edit(data.name) = std::move(data);
}

}  // namespace velt::wmi::detail
