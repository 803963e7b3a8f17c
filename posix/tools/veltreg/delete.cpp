#include "cli_args.h"
#include "commands.h"
#include "console.h"
#include "key_name.h"
#include "registry_access.h"

#include <owners/registry_tree.h>

namespace veltreg {
namespace {

int deleteAllValues(HKEY key, const KeyName& keyName) {
  std::vector<Value> values;
  if (LSTATUS status = allValues(key, values); status != ERROR_SUCCESS) {
    return reportStatus(status, keyName.full());
  }
  for (const Value& value : values) {
    if (LSTATUS status = RegDeleteValueA(key, value.name.c_str());
        status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
      return reportStatus(status, keyName.full());
    }
  }
  return reportSuccess();
}

}  // namespace

int runDelete(const Args& args) {
  std::optional<Arguments> parsed = parseArguments(args, {"v"}, {"ve", "va", "f"});
  if (!parsed || parsed->positional.size() != 1 ||
      parsed->has("v") + parsed->has("ve") + parsed->has("va") > 1) {
    return reportSyntax("delete");
  }
  std::optional<KeyName> keyName = parseKeyName(parsed->positional[0]);
  if (!keyName) return reportError("Invalid key name.");
  bool force = parsed->has("f");
  velt::UniqueRegistryKey key;
  if (LSTATUS status = openKey(keyName->root, keyName->subKey, KEY_ALL_ACCESS, key);
      status != ERROR_SUCCESS) {
    return reportStatus(status, keyName->full());
  }

  if (parsed->has("va")) {
    if (!force && !confirm("Delete all values under the registry key " + keyName->full())) {
      return reportCancelled();
    }
    return deleteAllValues(key.get(), *keyName);
  }
  if (parsed->has("v") || parsed->has("ve")) {
    std::string name = parsed->value("v").value_or("");
    Value existing;
    if (LSTATUS status = readValue(key.get(), name, existing); status != ERROR_SUCCESS) {
      return reportStatus(status, keyName->full());
    }
    if (!force && !confirm("Delete the registry value " + (name.empty() ? "(Default)" : name))) {
      return reportCancelled();
    }
    LSTATUS status = RegDeleteValueA(key.get(), name.c_str());
    return status == ERROR_SUCCESS ? reportSuccess() : reportStatus(status, keyName->full());
  }

  if (keyName->subKey.empty()) return reportError("Invalid key name.");  // roots stay
  if (!force && !confirm("Permanently delete the registry key " + keyName->full())) {
    return reportCancelled();
  }
  key = velt::UniqueRegistryKey();
  LSTATUS status = velt::deleteRegistryTree(keyName->root, keyName->subKey.c_str());
  return status == ERROR_SUCCESS ? reportSuccess() : reportStatus(status, keyName->full());
}

}  // namespace veltreg
