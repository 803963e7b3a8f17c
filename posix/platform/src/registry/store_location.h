// Where the registry file lives.
#pragma once

#include <string>

namespace velt::registry {

// $VELT_REGISTRY when set and not empty, else <XDG data home>/norvexvelt/registry.db, whose
// folders are created when `createFolders` (a reader leaves the disk as it is). Empty when no
// location can be found.
std::string registryFilePath(bool createFolders);

}  // namespace velt::registry
