#include "key_name.h"

#include <strings.h>

namespace veltreg {

std::optional<KeyName> parseKeyName(const std::string& text) {
  struct Root {
    const char* shortName;
    const char* longName;
    HKEY key;
  };
  static const Root roots[] = {{"HKCR", "HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
                               {"HKCU", "HKEY_CURRENT_USER", HKEY_CURRENT_USER},
                               {"HKLM", "HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
                               {"HKU", "HKEY_USERS", HKEY_USERS}};
  size_t slash = text.find('\\');
  std::string rootText = text.substr(0, slash);
  std::string subKey = slash == std::string::npos ? std::string() : text.substr(slash + 1);
  while (!subKey.empty() && subKey.back() == '\\') subKey.pop_back();
  for (const Root& root : roots) {
    if (strcasecmp(rootText.c_str(), root.shortName) == 0 ||
        strcasecmp(rootText.c_str(), root.longName) == 0) {
      return KeyName{root.key, root.longName, subKey};
    }
  }
  return std::nullopt;
}

}  // namespace veltreg
