#include "server_processes.h"

#include <sys/socket.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include <winplatform/posix_hooks.h>

namespace velt::remoting {
namespace {

struct Reached {
  std::mutex mutex;
  std::vector<DWORD> ids;  // oldest first, each once
};

Reached& reached() {
  static auto* all = new Reached;  // outlives every thread that may still connect at exit
  return *all;
}

}  // namespace

void rememberServerProcess(int socket) {
  struct ucred peer {};
  socklen_t length = sizeof peer;
  if (getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || peer.pid <= 0) return;
  auto& table = reached();
  std::lock_guard lock(table.mutex);
  DWORD id = static_cast<DWORD>(peer.pid);
  if (std::find(table.ids.begin(), table.ids.end(), id) == table.ids.end()) {
    table.ids.push_back(id);
  }
}

}  // namespace velt::remoting

extern "C" DWORD VeltReachedLocalServers(DWORD* processIds, DWORD capacity) {
  auto& table = velt::remoting::reached();
  std::lock_guard lock(table.mutex);
  DWORD count = static_cast<DWORD>(table.ids.size());
  for (DWORD i = 0; i < count && i < capacity && processIds != nullptr; ++i) {
    processIds[i] = table.ids[i];
  }
  return count;
}
