#include <sys/stat.h>

#include <fstream>

#include "cli_args.h"
#include "commands.h"
#include "console.h"
#include "key_name.h"
#include "registry_access.h"

namespace veltreg {
namespace {

LSTATUS writeTree(std::ostream& out, HKEY key, const std::string& fullName) {
  std::vector<Value> values;
  std::vector<std::string> children;
  if (LSTATUS status = allValues(key, values); status != ERROR_SUCCESS) return status;
  if (LSTATUS status = subkeyNames(key, children); status != ERROR_SUCCESS) return status;
  out << "[" << fullName << "]\n";
  for (const Value& value : values) out << exportLine(value) << "\n";
  out << "\n";
  for (const std::string& child : children) {
    OpenKey sub;
    if (LSTATUS status = openKey(key, child, KEY_READ, sub); status != ERROR_SUCCESS) return status;
    if (LSTATUS status = writeTree(out, sub.get(), fullName + "\\" + child);
        status != ERROR_SUCCESS) {
      return status;
    }
  }
  return ERROR_SUCCESS;
}

}  // namespace

int runExport(const Args& args) {
  std::optional<Arguments> parsed = parseArguments(args, {}, {"y"});
  if (!parsed || parsed->positional.size() != 2) return reportSyntax("export");
  std::optional<KeyName> keyName = parseKeyName(parsed->positional[0]);
  if (!keyName) return reportError("Invalid key name.");
  const std::string& file = parsed->positional[1];
  OpenKey key;
  if (LSTATUS status = openKey(keyName->root, keyName->subKey, KEY_READ, key);
      status != ERROR_SUCCESS) {
    return reportStatus(status);
  }
  struct stat info {};
  if (!parsed->has("y") && stat(file.c_str(), &info) == 0 &&
      !confirm("File " + file + " already exists. Overwrite")) {
    return reportCancelled();
  }
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  if (!out) return reportError("Unable to write to the file " + file + ".");
  out << "Windows Registry Editor Version 5.00\n\n";
  if (LSTATUS status = writeTree(out, key.get(), keyName->full()); status != ERROR_SUCCESS) {
    return reportStatus(status);
  }
  out.close();
  if (!out) return reportError("Unable to write to the file " + file + ".");
  return reportSuccess();
}

}  // namespace veltreg
