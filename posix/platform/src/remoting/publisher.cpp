#include "publisher.h"

#include <capnp/rpc-twoparty.h>
#include <kj/debug.h>
#include <kj/io.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <string>

#include <winplatform/remoting.h>

#include "../com/com_state.h"
#include "endpoint.h"
#include "generic_marshalers.h"
#include "runtime.h"
#include "socket_stream.h"

namespace velt::remoting {
namespace {

// The first thing a client reaches: the class object, as the client asks for it.
class ClassSource final : public rpc::ClassSource::Server {
 public:
  ClassSource(const CLSID& clsid, Connection::Anchor origin)
      : m_clsid(clsid), m_origin(kj::mv(origin)) {}

 protected:
  kj::Promise<void> getClassObject(GetClassObjectContext context) override {
    auto params = context.getParams();
    CLSID clsid = iidFrom(params.getClsid());
    IID iid = iidFrom(params.getIid());
    if (!IsEqualGUID(clsid, m_clsid)) {
      context.getResults().setStatus(REGDB_E_CLASSNOTREG);
      return kj::READY_NOW;
    }
    if (!interfaceRegistered(iid)) {
      context.getResults().setStatus(E_NOINTERFACE);
      return kj::READY_NOW;
    }
    return onWorker<InterfaceOutcome>([clsid, iid] {
             HeldReference classObject(platform::com::takeClassObject(clsid, CLSCTX_LOCAL_SERVER));
             if (classObject.get() == nullptr) return InterfaceOutcome{CO_E_OBJNOTREG, {}};
             void* found = nullptr;
             HRESULT status = classObject.get()->QueryInterface(iid, &found);
             return InterfaceOutcome{status, HeldReference(static_cast<IUnknown*>(found))};
           })
        .then([this, context, iid](InterfaceOutcome outcome) mutable {
          answerInterface(context.getResults(), iid, kj::mv(outcome), m_origin);
        });
  }

 private:
  CLSID m_clsid;
  Connection::Anchor m_origin;
};

// One client's connection: its stubs live until it ends; proxies of capabilities the client
// handed over (a sink, its namespace) keep it, so they fail cleanly rather than dangle.
struct ServerConnection final : public Connection {
  explicit ServerConnection(kj::Own<kj::AsyncIoStream> socket, const CLSID& clsid)
      : stream(kj::mv(socket)),
        network(*stream, capnp::rpc::twoparty::Side::SERVER),
        rpc(capnp::makeRpcServer(network, kj::heap<ClassSource>(clsid, anchor()))) {}

  kj::Own<kj::AsyncIoStream> stream;
  capnp::TwoPartyVatNetwork network;
  capnp::RpcSystem<capnp::rpc::twoparty::VatId> rpc;
};

struct Publication {
  CLSID clsid;
  std::string path;
  ino_t inode = 0;
  kj::AutoCloseFd listening;  // closed after the watch on it is gone
  kj::Own<kj::UnixEventPort::FdObserver> watch;
  kj::Promise<void> accepting = nullptr;
};

std::map<DWORD, kj::Own<Publication>>& publications() {  // loop thread only
  static auto* all = new std::map<DWORD, kj::Own<Publication>>;
  return *all;
}

void serve(kj::Own<kj::AsyncIoStream> stream, const CLSID& clsid) {
  struct ucred peer {};
  kj::uint length = sizeof peer;
  stream->getsockopt(SOL_SOCKET, SO_PEERCRED, &peer, &length);
  if (length != sizeof peer || peer.uid != geteuid()) return;  // dropped unanswered
  auto connection = kj::refcounted<ServerConnection>(kj::mv(stream), clsid);
  auto ended = connection->network.onDisconnect();
  // Garbage or a vanished client ends this connection only; its stubs go with it.
  ServerConnection* served = connection.get();
  Runtime::get().addTask(ended.then([served] { served->markLost(); }).attach(kj::mv(connection)));
}

kj::Promise<void> acceptLoop(Publication& publication) {
  for (;;) {
    const int fd = accept4(publication.listening.get(), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) {
      serve(socketStream(fd), publication.clsid);
      continue;
    }
    const int error = errno;
    if (error == EINTR || error == ECONNABORTED) continue;
    if (error != EAGAIN && error != EWOULDBLOCK) KJ_FAIL_SYSCALL("accept4", error);
    return publication.watch->whenBecomesReadable().then(
        [&publication] { return acceptLoop(publication); });
  }
}

// Nothing a client could tell from the activation's status says why a server could not serve:
// its console output (the log COM's launcher keeps beside the executable) does.
void reportPublishFailure(const std::string& path, const char* why) {
  std::fprintf(stderr, "COM: cannot publish the class object at %s: %s\n", path.c_str(), why);
  std::fflush(stderr);
}

// A listening socket at `path`, put in place by rename so a client never sees a half-made one.
int listenAt(const std::string& path, ino_t& inode) {
  // A short name beside the endpoint: any endpoint path that fits the address fits this too.
  const std::string temporary =
      path.substr(0, path.rfind('/') + 1) + std::to_string(getpid()) + ".new";
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() + 1 > sizeof address.sun_path || temporary.size() + 1 > sizeof address.sun_path) {
    reportPublishFailure(path, "the path is too long for a socket address");
    return -1;
  }
  std::memcpy(address.sun_path, temporary.c_str(), temporary.size() + 1);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    reportPublishFailure(path, std::strerror(errno));
    return -1;
  }
  unlink(temporary.c_str());
  const char* step = nullptr;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    step = "bind";
  } else if (chmod(temporary.c_str(), 0600) != 0) {
    step = "chmod";
  } else if (listen(fd, SOMAXCONN) != 0) {
    step = "listen";
  } else if (rename(temporary.c_str(), path.c_str()) != 0) {
    step = "rename";
  }
  if (step != nullptr) {
    const std::string why = std::string(step) + ": " + std::strerror(errno);
    unlink(temporary.c_str());
    close(fd);
    reportPublishFailure(path, why.c_str());
    return -1;
  }
  struct stat status {};
  inode = stat(path.c_str(), &status) == 0 ? status.st_ino : 0;
  return fd;
}

std::atomic<bool> anyPublished{false};  // spares the loop thread in processes that never serve
std::atomic<bool> servesWithoutEmbedding{false};

}  // namespace

bool startedForEmbedding() {
  if (servesWithoutEmbedding) return true;
  static const bool embedding = [] {
    std::ifstream file("/proc/self/cmdline", std::ios::binary);
    std::string argument;
    bool first = true;
    while (std::getline(file, argument, '\0')) {
      if (!first && (strcasecmp(argument.c_str(), "-Embedding") == 0 ||
                     strcasecmp(argument.c_str(), "/Embedding") == 0)) {
        return true;
      }
      first = false;
    }
    return false;
  }();
  return embedding;
}

HRESULT publishClass(REFCLSID clsid, DWORD cookie) {
  registerGenericMarshalers();
  auto paths = endpointFor(clsid);
  if (!paths) {
    reportPublishFailure("the runtime folder",
                         "no private folder of this user in $XDG_RUNTIME_DIR or /tmp");
    return E_ACCESSDENIED;
  }
  CLSID wanted = clsid;
  std::string path = paths->socket;
  anyPublished = true;
  return runOnLoop([wanted, path, cookie]() -> kj::Promise<HRESULT> {
    auto publication = kj::heap<Publication>();
    publication->clsid = wanted;
    publication->path = path;
    int fd = listenAt(path, publication->inode);
    if (fd < 0) return E_ACCESSDENIED;
    publication->listening = kj::AutoCloseFd(fd);
    publication->watch = kj::heap<kj::UnixEventPort::FdObserver>(
        Runtime::get().eventPort(), fd, kj::UnixEventPort::FdObserver::OBSERVE_READ);
    publication->accepting = acceptLoop(*publication).eagerlyEvaluate(nullptr);
    publications()[cookie] = kj::mv(publication);
    return S_OK;
  });
}

void withdrawClass(DWORD cookie) {
  if (!anyPublished) return;
  runOnLoop([cookie]() -> kj::Promise<HRESULT> {
    auto found = publications().find(cookie);
    if (found == publications().end()) return S_OK;
    auto& publication = *found->second;
    struct stat status {};
    // A server started after this one may have put its own endpoint in place.
    if (stat(publication.path.c_str(), &status) == 0 && status.st_ino == publication.inode) {
      unlink(publication.path.c_str());
    }
    publications().erase(found);
    return S_OK;
  });
  // Revoking is what a server does on its way out: the answers it owes go first.
  answerCallsInProgress();
}

}  // namespace velt::remoting

extern "C" void VeltServeLocalServerClasses(void) { velt::remoting::servesWithoutEmbedding = true; }
