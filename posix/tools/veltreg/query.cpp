#include <iostream>

#include "cli_args.h"
#include "commands.h"
#include "console.h"
#include "key_name.h"
#include "registry_access.h"

namespace veltreg {
namespace {

void printValue(const Value& value) {
  std::cout << "    " << (value.name.empty() ? "(Default)" : value.name) << "    "
            << typeName(value.type) << "    " << displayData(value) << "\n";
}

// One key and its values, then (with /s) everything below it, as the tool lists a tree.
LSTATUS listTree(HKEY key, const std::string& fullName) {
  std::vector<Value> values;
  std::vector<std::string> children;
  if (LSTATUS status = allValues(key, values); status != ERROR_SUCCESS) return status;
  if (LSTATUS status = subkeyNames(key, children); status != ERROR_SUCCESS) return status;
  std::cout << "\n" << fullName << "\n";
  for (const Value& value : values) printValue(value);
  for (const std::string& child : children) {
    velt::UniqueRegistryKey sub;
    if (LSTATUS status = openKey(key, child, KEY_READ, sub); status != ERROR_SUCCESS) return status;
    if (LSTATUS status = listTree(sub.get(), fullName + "\\" + child); status != ERROR_SUCCESS) {
      return status;
    }
  }
  return ERROR_SUCCESS;
}

// Every key at or below `key` that holds the named value; counts the matches.
LSTATUS searchTree(HKEY key, const std::string& fullName, const std::string& name, int& matches) {
  Value value;
  LSTATUS status = readValue(key, name, value);
  if (status == ERROR_SUCCESS) {
    std::cout << "\n" << fullName << "\n";
    printValue(value);
    ++matches;
  } else if (status != ERROR_FILE_NOT_FOUND) {
    return status;
  }
  std::vector<std::string> children;
  if (status = subkeyNames(key, children); status != ERROR_SUCCESS) return status;
  for (const std::string& child : children) {
    velt::UniqueRegistryKey sub;
    if (status = openKey(key, child, KEY_READ, sub); status != ERROR_SUCCESS) return status;
    if (status = searchTree(sub.get(), fullName + "\\" + child, name, matches);
        status != ERROR_SUCCESS) {
      return status;
    }
  }
  return ERROR_SUCCESS;
}

int queryOneValue(HKEY key, const KeyName& keyName, const std::string& name, bool isDefault) {
  Value value;
  LSTATUS status = readValue(key, name, value);
  if (status == ERROR_FILE_NOT_FOUND && isDefault) {
    std::cout << "\n" << keyName.full() << "\n    (Default)    REG_SZ    (value not set)\n\n";
    return kSuccess;
  }
  if (status != ERROR_SUCCESS) return reportStatus(status, keyName.full());
  std::cout << "\n" << keyName.full() << "\n";
  printValue(value);
  std::cout << "\n";
  return kSuccess;
}

int queryKey(HKEY key, const KeyName& keyName) {
  std::vector<Value> values;
  std::vector<std::string> children;
  if (LSTATUS status = allValues(key, values); status != ERROR_SUCCESS)
    return reportStatus(status, keyName.full());
  if (LSTATUS status = subkeyNames(key, children); status != ERROR_SUCCESS) {
    return reportStatus(status, keyName.full());
  }
  std::cout << "\n" << keyName.full() << "\n";
  for (const Value& value : values) printValue(value);
  std::cout << "\n";
  for (const std::string& child : children) std::cout << keyName.child(child) << "\n";
  return kSuccess;
}

}  // namespace

int runQuery(const Args& args) {
  std::optional<Arguments> parsed = parseArguments(args, {"v"}, {"ve", "s"});
  if (!parsed || parsed->positional.size() != 1 || (parsed->has("v") && parsed->has("ve"))) {
    return reportSyntax("query");
  }
  std::optional<KeyName> keyName = parseKeyName(parsed->positional[0]);
  if (!keyName) return reportError("Invalid key name.");
  velt::UniqueRegistryKey key;
  if (LSTATUS status = openKey(keyName->root, keyName->subKey, KEY_READ, key);
      status != ERROR_SUCCESS) {
    return reportStatus(status, keyName->full());
  }
  bool recursive = parsed->has("s");
  bool isDefault = parsed->has("ve");
  std::optional<std::string> name = isDefault ? std::string() : parsed->value("v");
  if (!name) {
    if (!recursive) return queryKey(key.get(), *keyName);
    LSTATUS status = listTree(key.get(), keyName->full());
    std::cout << "\n";
    return status == ERROR_SUCCESS ? kSuccess : reportStatus(status, keyName->full());
  }
  if (!recursive) return queryOneValue(key.get(), *keyName, *name, isDefault);
  int matches = 0;
  if (LSTATUS status = searchTree(key.get(), keyName->full(), *name, matches);
      status != ERROR_SUCCESS) {
    return reportStatus(status, keyName->full());
  }
  std::cout << "\nEnd of search: " << matches << " match(es) found.\n";
  return matches > 0 ? kSuccess : kFailure;
}

}  // namespace veltreg
