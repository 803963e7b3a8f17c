// The installation record the management product keeps in the registry.
#include <jvm/JvmServices.h>

#include <owners/unique_handle.h>

#include <optional>

#include "path_rules.h"

using namespace velt::jvm;

namespace {

// A text value that fits the path buffer; a longer one is refused rather than cut, since a
// cut path or version would name a place that does not exist.
std::optional<std::string> readText(HKEY key, const char* name) {
  BYTE value[MAX_PATH] = {};
  DWORD size = sizeof value;
  if (RegQueryValueExA(key, name, nullptr, nullptr, value, &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  // The stored bytes need not end with a zero; the text ends at the first one or at `size`.
  std::string text(reinterpret_cast<const char*>(value), size);
  return text.substr(0, text.find('\0'));
}

}  // namespace

bool JvmServices::readInstallRecord(std::string& homeDefine, std::string& installDirectory,
                                    std::string& version) {
  velt::UniqueRegistryKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Norvex\\TARVO", 0, KEY_QUERY_VALUE, key.put()) !=
      ERROR_SUCCESS) {
    return false;
  }
  auto installPath = readText(key.get(), "Install Path");
  if (!installPath) return false;
  auto versionText = readText(key.get(), "Version");
  if (!versionText) return false;

  version = *versionText;
  installDirectory = installationDirectory(*installPath);
  homeDefine = "TARVO_HOME=" + installDirectory;
  return true;
}
