#include "mof_loading.h"

#include <map>
#include <mutex>

#include "provider_registrations.h"
#include "wmi_model/mof_reader.h"

namespace velt::wmi::detail {
namespace {

// Every namespace has the classes of the status objects that providers attach to a failure.
void addStatusClasses(NamespaceData& ns, const std::u16string& server) {
  auto notify = std::make_shared<ClassDef>();
  notify->name = u"__NotifyStatus";
  notify->nameSpace = ns.name;
  notify->server = server;
  notify->properties.push_back({u"StatusCode", CIM_UINT32, {}, Variant::null(), notify->name});
  notify->index();
  auto extended = std::make_shared<ClassDef>();
  extended->name = u"__ExtendedStatus";
  extended->base = notify;
  extended->nameSpace = ns.name;
  extended->server = server;
  for (const char16_t* name : {u"Description", u"Operation", u"ParameterInfo", u"ProviderName"}) {
    extended->properties.push_back({name, CIM_STRING, {}, Variant::null(), extended->name});
  }
  extended->index();
  ns.classes[u"__notifystatus"] = std::move(notify);
  ns.classes[u"__extendedstatus"] = std::move(extended);
}

}  // namespace

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
        addStatusClasses(copy, server);
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
