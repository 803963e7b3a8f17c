// Full key names as typed on the command line: a root ("HKCR" or "HKEY_CLASSES_ROOT", ...)
// followed by an optional backslash and a path below it.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace veltreg {

struct KeyName {
  HKEY root;
  std::string rootName;  // the long form, as the tool prints it
  std::string subKey;    // empty for the root itself

  std::string full() const { return subKey.empty() ? rootName : rootName + "\\" + subKey; }
  std::string child(const std::string& name) const { return full() + "\\" + name; }
};

std::optional<KeyName> parseKeyName(const std::string& text);

}  // namespace veltreg
