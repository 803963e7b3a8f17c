// The installation record the management product keeps in the registry.
#include <jvm/JvmServices.h>

#include <optional>

#include "path_rules.h"

using namespace velt::jvm;

namespace {

class OpenKey {
 public:
  explicit OpenKey(HKEY key) : m_key(key) {}
  ~OpenKey() { RegCloseKey(m_key); }
  OpenKey(const OpenKey&) = delete;
  OpenKey& operator=(const OpenKey&) = delete;
  HKEY get() const { return m_key; }

 private:
  HKEY m_key;
};

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
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Norvex\\TARVO", 0, KEY_QUERY_VALUE, &key) !=
      ERROR_SUCCESS) {
    return false;
  }
  OpenKey openKey(key);
  auto installPath = readText(key, "Install Path");
  if (!installPath) return false;
  auto versionText = readText(key, "Version");
  if (!versionText) return false;

  version = *versionText;
  installDirectory = installationDirectory(*installPath);
  homeDefine = "TARVO_HOME=" + installDirectory;
  return true;
}
