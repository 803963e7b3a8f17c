#include "store_location.h"

#include <cstdlib>

#include "../shell/xdg_dirs.h"

namespace velt::registry {

std::string registryFilePath(bool createFolders) {
  const char* chosen = std::getenv("VELT_REGISTRY");
  if (chosen != nullptr && chosen[0] != '\0') return chosen;
  std::string data = velt::platform::xdgDataHome();
  if (data.empty()) return {};
  std::string folder = data + "/norvexvelt";
  // A folder that cannot be made shows as the file failing to open, with the system's reason.
  if (createFolders) velt::platform::createDirectories(folder);
  return folder + "/registry.db";
}

}  // namespace velt::registry
