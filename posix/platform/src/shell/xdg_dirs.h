// The user's XDG data directory, shared by the shell folders and the registry's default file.
#pragma once

#include <string>

namespace velt::platform {

// $XDG_DATA_HOME when it is an absolute path, else $HOME/.local/share (HOME from the password
// database when unset). Empty when neither can be found.
std::string xdgDataHome();

// Creates the directory and its missing parents (mode 0700, as XDG asks). True when it exists.
bool createDirectories(const std::string& path);

}  // namespace velt::platform
