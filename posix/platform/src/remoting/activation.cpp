#include "activation.h"

#include <capnp/rpc-twoparty.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <thread>

#include <windows.h>
#include <winplatform/remoting.h>

#include "../com/com_state.h"
#include "endpoint.h"
#include "generic_marshalers.h"
#include "runtime.h"
#include "server_launch.h"
#include "server_processes.h"
#include "socket_stream.h"

namespace velt::remoting {
namespace {

using Clock = std::chrono::steady_clock;

// One connection to one class's server, shared by every proxy that came over it.
class ClientConnection final : public Connection {
 public:
  ClientConnection(kj::Own<kj::AsyncIoStream> socket)
      : m_stream(kj::mv(socket)),
        m_network(*m_stream, capnp::rpc::twoparty::Side::CLIENT),
        m_rpc(capnp::makeRpcClient(m_network)),
        m_watching(m_network.onDisconnect()
                       .then([this] { lose(); }, [this](kj::Exception&&) { lose(); })
                       .eagerlyEvaluate(nullptr)) {}

  bool dead() const { return m_dead; }
  void lose() {
    m_dead = true;
    markLost();
  }
  rpc::ClassSource::Client source() {
    capnp::word scratch[4] = {};
    capnp::MallocMessageBuilder message(scratch);
    auto vat = message.getRoot<capnp::rpc::twoparty::VatId>();
    vat.setSide(capnp::rpc::twoparty::Side::SERVER);
    return m_rpc.bootstrap(vat).castAs<rpc::ClassSource>();
  }

 private:
  kj::Own<kj::AsyncIoStream> m_stream;
  capnp::TwoPartyVatNetwork m_network;
  capnp::RpcSystem<capnp::rpc::twoparty::VatId> m_rpc;
  bool m_dead = false;
  kj::Promise<void> m_watching;
};

// Loop thread only: the live connection of each class, reused by later activations.
std::map<std::string, kj::Own<ClientConnection>>& connections() {
  static auto* all = new std::map<std::string, kj::Own<ClientConnection>>;
  return *all;
}

// Loop thread: drops the connection of `key` if it still is `which` (not a newer one).
void forget(const std::string& key, const ClientConnection* which) {
  auto found = connections().find(key);
  if (found != connections().end() && found->second.get() == which) connections().erase(found);
}

std::optional<std::string> localServerCommand(REFCLSID clsid) {
  OLECHAR wide[40] = {};
  StringFromGUID2(clsid, wide, 40);
  std::string key = "CLSID\\";
  for (const OLECHAR* c = wide; *c != 0; ++c) key.push_back(static_cast<char>(*c));
  key += "\\LocalServer32";
  HKEY opened = nullptr;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  char value[4096];
  DWORD size = sizeof value;
  DWORD type = 0;
  LSTATUS read =
      RegQueryValueExA(opened, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(opened);
  if (read != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ) || size == 0) {
    return std::nullopt;
  }
  std::string command(value, strnlen(value, size));
  if (type == REG_EXPAND_SZ) {
    // As COM reads the entry: %NAME% stands for the variable's value in this process.
    std::string expanded(ExpandEnvironmentStringsA(command.c_str(), nullptr, 0), '\0');
    DWORD written = ExpandEnvironmentStringsA(command.c_str(), expanded.data(),
                                              static_cast<DWORD>(expanded.size()));
    expanded.resize(written > 0 ? written - 1 : 0);
    command = std::move(expanded);
  }
  if (command.empty()) return std::nullopt;
  return command;
}

// A connected socket to the server at `path` that runs as this user, or -1.
int connectTo(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() + 1 > sizeof address.sun_path) return -1;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      !peerIsSameUser(fd)) {
    close(fd);
    return -1;
  }
  rememberServerProcess(fd);
  return fd;
}

// Serialises the start of one class's server between clients, for a bounded time.
class StartLock {
 public:
  StartLock(const std::string& path, Clock::time_point deadline) {
    m_fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_fd < 0) return;
    while (flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
      if (Clock::now() >= deadline) {
        close(m_fd);
        m_fd = -1;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    m_held = true;
  }
  ~StartLock() {
    if (m_fd >= 0) close(m_fd);  // releases the lock
  }
  StartLock(const StartLock&) = delete;
  StartLock& operator=(const StartLock&) = delete;
  bool held() const { return m_held; }

 private:
  int m_fd = -1;
  bool m_held = false;
};

// Wakes its waiter as soon as something is put into the endpoint folder (a server's endpoint
// arrives by rename), rather than at the next tick of a poll.
class FolderWatch {
 public:
  explicit FolderWatch(const std::string& folder) {
    m_fd = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (m_fd >= 0 && inotify_add_watch(m_fd, folder.c_str(), IN_MOVED_TO | IN_CREATE) < 0) {
      close(m_fd);
      m_fd = -1;
    }
  }
  ~FolderWatch() {
    if (m_fd >= 0) close(m_fd);
  }
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;
  // Returns on a change in the folder, or after `slice` at the latest.
  void wait(std::chrono::milliseconds slice) {
    if (m_fd < 0) {
      std::this_thread::sleep_for(slice);
      return;
    }
    pollfd ready{m_fd, POLLIN, 0};
    if (poll(&ready, 1, static_cast<int>(slice.count())) > 0) {
      alignas(inotify_event) char drained[4096];
      while (read(m_fd, drained, sizeof drained) > 0) {
      }
    }
  }

 private:
  int m_fd = -1;
};

// A socket to the class's server, started first when none answers; -1 with `status` set.
int reachServer(const std::string& command, const EndpointPaths& paths, HRESULT& status) {
  int fd = connectTo(paths.socket);
  if (fd >= 0) return fd;
  const auto deadline =
      Clock::now() + std::chrono::milliseconds(platform::com::localServerStartTimeout());
  status = CO_E_SERVER_EXEC_FAILURE;
  StartLock lock(paths.lock, deadline);
  if (!lock.held()) return -1;
  fd = connectTo(paths.socket);  // another client may have started it while we waited
  if (fd >= 0) return fd;
  // Watching before the start, so that an endpoint put in place at once is not missed.
  FolderWatch folder(paths.socket.substr(0, paths.socket.rfind('/')));
  auto server = launchServer(command, paths.socket + ".log");
  if (!server) return -1;
  while (Clock::now() < deadline) {
    fd = connectTo(paths.socket);
    if (fd >= 0) return fd;
    if (processEnded(*server)) return -1;
    folder.wait(std::chrono::milliseconds(10));
  }
  return -1;
}

HRESULT askClassObject(const std::string& key, int fd, REFCLSID clsid, REFIID iid, void** out) {
  CLSID wantedClass = clsid;
  IID wanted = iid;
  return runOnLoop([key, fd, wantedClass, wanted, out]() -> kj::Promise<HRESULT> {
    auto& known = connections();
    auto found = known.find(key);
    if (found != known.end() && found->second->dead()) {
      known.erase(found);
      found = known.end();
    }
    if (found == known.end()) {
      if (fd < 0) return RPC_E_DISCONNECTED;
      found = known.emplace(key, kj::refcounted<ClientConnection>(socketStream(fd))).first;
    } else if (fd >= 0) {
      close(fd);
    }
    auto connection = kj::addRef(*found->second);
    const ClientConnection* asked = connection.get();
    auto request = connection->source().getClassObjectRequest();
    request.setClsid(iidBytes(wantedClass));
    request.setIid(iidBytes(wanted));
    return request.send().then(
        [key, asked, connection = kj::mv(connection), wanted,
         out](auto response) mutable -> HRESULT {
          HRESULT status = response.getStatus();
          // A server that revoked its class is on its way out: the next attempt starts another.
          if (status == CO_E_OBJNOTREG) forget(key, asked);
          if (FAILED(status)) return status;
          auto remote =
              kj::heap<RemoteObject>(RemoteObject{kj::mv(connection), response.getObject()});
          return toInterface(wanted, kj::mv(remote), out);
        },
        [key, asked](kj::Exception&& failure) -> HRESULT {
          // The server is gone: the next activation must not wait on this connection again.
          forget(key, asked);
          return statusOf(failure);
        });
  });
}

bool haveLiveConnection(const std::string& key) {
  bool live = false;
  runOnLoop([&key, &live]() -> kj::Promise<HRESULT> {
    auto found = connections().find(key);
    live = found != connections().end() && !found->second->dead();
    return S_OK;
  });
  return live;
}

}  // namespace

void closeIdleConnections() {
  if (!runtimeStarted() || onLoopThread()) return;
  runOnLoop([]() -> kj::Promise<HRESULT> {
    // Connections still used by a proxy stay: only the table's own references go.
    connections().clear();
    return S_OK;
  });
  waitForPendingReleases();
}

HRESULT remoteClassObject(REFCLSID clsid, REFIID iid, void** out) {
  *out = nullptr;
  registerGenericMarshalers();
  auto command = localServerCommand(clsid);
  if (!command) return REGDB_E_CLASSNOTREG;
  if (!interfaceRegistered(iid)) return E_NOINTERFACE;
  auto paths = endpointFor(clsid);
  if (!paths) return CO_E_SERVER_EXEC_FAILURE;
  // A server that ended (or is ending) since the last activation is noticed on the first
  // call; the second attempt reaches (or starts) its successor.
  HRESULT status = CO_E_SERVER_EXEC_FAILURE;
  for (int attempt = 0; attempt < 2; ++attempt) {
    int fd = -1;
    if (!haveLiveConnection(paths->socket)) {
      fd = reachServer(*command, *paths, status);
      if (fd < 0) return status;
    }
    status = askClassObject(paths->socket, fd, clsid, iid, out);
    if (status != RPC_E_DISCONNECTED && status != CO_E_OBJNOTREG) return status;
  }
  return status;
}

}  // namespace velt::remoting
