// Where a local server's class is reached: a Unix socket per class identifier in a folder
// only the user can open.
#pragma once

#include <objbase.h>

#include <optional>
#include <string>

namespace velt::remoting {

// The user's private folder for endpoints ($XDG_RUNTIME_DIR/norvexvelt, else
// /tmp/norvexvelt-<uid>), made 0700 when missing. Empty when it cannot be made or is not
// private to the user (then nothing is published or reached there).
std::optional<std::string> endpointFolder();

struct EndpointPaths {
  std::string socket;  // the class's endpoint
  std::string lock;    // held by the client that starts the server
};
std::optional<EndpointPaths> endpointFor(REFCLSID clsid);

// Whether the peer on a connected Unix socket runs as this process's user.
bool peerIsSameUser(int socket);

}  // namespace velt::remoting
