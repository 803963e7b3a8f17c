#include "cli_args.h"
#include "commands.h"
#include "console.h"
#include "key_name.h"
#include "registry_access.h"

namespace veltreg {

int runAdd(const Args& args) {
  std::optional<Arguments> parsed = parseArguments(args, {"v", "t", "d", "s"}, {"ve", "f"});
  if (!parsed || parsed->positional.size() != 1 || (parsed->has("v") && parsed->has("ve"))) {
    return reportSyntax("add");
  }
  std::optional<KeyName> keyName = parseKeyName(parsed->positional[0]);
  if (!keyName) return reportError("Invalid key name.");
  DWORD type = REG_SZ;
  if (std::optional<std::string> typeText = parsed->value("t")) {
    std::optional<DWORD> known = typeFromName(*typeText);
    if (!known) return reportError("Invalid value type: " + *typeText + ".");
    type = *known;
  }
  std::string separator = parsed->value("s").value_or("\\0");
  std::optional<std::string> data = dataFromText(type, parsed->value("d").value_or(""), separator);
  if (!data) return reportError("Invalid data for " + typeName(type) + ".");

  HKEY created = nullptr;
  if (LSTATUS status =
          RegCreateKeyExA(keyName->root, keyName->subKey.c_str(), 0, nullptr,
                          REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &created, nullptr);
      status != ERROR_SUCCESS) {
    return reportStatus(status, keyName->full());
  }
  velt::UniqueRegistryKey key(created);
  // A bare "add KEY" only makes the key; any value option or data sets a value (the default
  // one unless /v names another).
  bool setsValue = parsed->has("v") || parsed->has("ve") || parsed->has("t") || parsed->has("d");
  if (!setsValue) return reportSuccess();
  std::string name = parsed->value("v").value_or("");
  Value existing;
  if (!parsed->has("f") && readValue(key.get(), name, existing) == ERROR_SUCCESS &&
      !confirm("Value " + (name.empty() ? std::string("(Default)") : name) +
               " exists, overwrite")) {
    return reportCancelled();
  }
  if (LSTATUS status = RegSetValueExA(key.get(), name.c_str(), 0, type,
                                      reinterpret_cast<const BYTE*>(data->data()),
                                      static_cast<DWORD>(data->size()));
      status != ERROR_SUCCESS) {
    return reportStatus(status, keyName->full());
  }
  return reportSuccess();
}

}  // namespace veltreg
