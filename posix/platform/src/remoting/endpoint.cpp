#include "endpoint.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace velt::remoting {
namespace {

// The folder exists now as a real folder of this user that nobody else may enter.
bool privateFolder(const std::string& path) {
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat status {};
  if (lstat(path.c_str(), &status) != 0) return false;
  return S_ISDIR(status.st_mode) && status.st_uid == geteuid() && (status.st_mode & 077) == 0;
}

std::string clsidText(REFCLSID clsid) {
  OLECHAR wide[40] = {};
  StringFromGUID2(clsid, wide, 40);
  std::string text;
  for (const OLECHAR* c = wide; *c != 0; ++c) text.push_back(static_cast<char>(*c));
  return text;
}

}  // namespace

std::optional<std::string> endpointFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == '/') {
    std::string folder = std::string(runtime) + "/norvexvelt";
    if (privateFolder(folder)) return folder;
  }
  std::string folder = "/tmp/norvexvelt-" + std::to_string(geteuid());
  if (privateFolder(folder)) return folder;
  return std::nullopt;
}

std::optional<EndpointPaths> endpointFor(REFCLSID clsid) {
  auto folder = endpointFolder();
  if (!folder) return std::nullopt;
  std::string base = *folder + "/" + clsidText(clsid);
  return EndpointPaths{base + ".sock", base + ".lock"};
}

bool peerIsSameUser(int socket) {
  struct ucred peer {};
  socklen_t length = sizeof peer;
  if (getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0) return false;
  return length == sizeof peer && peer.uid == geteuid();
}

}  // namespace velt::remoting
