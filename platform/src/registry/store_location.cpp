#include "store_location.h"

#include <cstdlib>

#include "../shell/xdg_dirs.h"

namespace velt::registry {

std::string registryFilePath() {
  const char* chosen = std::getenv("VELT_REGISTRY");
  if (chosen != nullptr && chosen[0] != '\0') return chosen;
  std::string data = velt::platform::xdgDataHome();
  if (data.empty()) return {};
  std::string folder = data + "/norvexvelt";
  if (!velt::platform::createDirectories(folder)) return {};
  return folder + "/registry.db";
}

}  // namespace velt::registry
