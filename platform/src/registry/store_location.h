// Where the registry file lives.
#pragma once

#include <string>

namespace velt::registry {

// $VELT_REGISTRY when set and not empty, else <XDG data home>/norvexvelt/registry.db.
// Creates the folders of the default location; empty when no location can be found.
std::string registryFilePath();

}  // namespace velt::registry
