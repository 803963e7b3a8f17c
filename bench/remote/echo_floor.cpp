#include "echo_floor.h"

#include <capnp/rpc-twoparty.h>
#include <kj/async-io.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "echo.capnp.h"
#include "own_executable.h"

namespace velt::bench {
namespace {

class Answerer final : public Echo::Server {
 protected:
  kj::Promise<void> call(CallContext context) override {
    context.getResults().initReply(context.getParams().getReplySize());
    return kj::READY_NOW;
  }
};

}  // namespace

struct EchoFloor::State {
  explicit State(int fd)
      : io(kj::setupAsyncIo()),
        stream(io.lowLevelProvider->wrapSocketFd(fd, kj::LowLevelAsyncIoProvider::TAKE_OWNERSHIP)),
        client(*stream),
        echo(client.bootstrap().castAs<Echo>()) {}
  kj::AsyncIoContext io;
  kj::Own<kj::AsyncIoStream> stream;
  capnp::TwoPartyClient client;
  Echo::Client echo;
  std::vector<capnp::byte> request;
};

EchoFloor::EchoFloor() {
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
    throw std::runtime_error("socketpair");
  }
  const std::string self = ownExecutable();
  const std::string mode = "--velt-echo=" + std::to_string(pair[1]);
  m_child = fork();
  if (m_child == 0) {
    int inherited = dup(pair[1]);  // without close-on-exec, and numbered as the mode says
    dup2(inherited, pair[1]);
    execl(self.c_str(), self.c_str(), mode.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(pair[1]);
  m_state = std::make_unique<State>(pair[0]);
}

EchoFloor::~EchoFloor() {
  m_state.reset();  // closing the socket ends the child
  if (m_child > 0) waitpid(m_child, nullptr, 0);
}

void EchoFloor::call(size_t requestBytes, size_t replyBytes) {
  m_state->request.resize(requestBytes);
  auto request = m_state->echo.callRequest();
  request.setRequest(kj::arrayPtr(m_state->request.data(), m_state->request.size()));
  request.setReplySize(static_cast<uint32_t>(replyBytes));
  auto response = request.send().wait(m_state->io.waitScope);
  if (response.getReply().size() != replyBytes) throw std::runtime_error("short echo");
}

int echoChildMain(int fd) {
  auto io = kj::setupAsyncIo();
  auto stream = io.lowLevelProvider->wrapSocketFd(fd, kj::LowLevelAsyncIoProvider::TAKE_OWNERSHIP);
  capnp::TwoPartyVatNetwork network(*stream, capnp::rpc::twoparty::Side::SERVER);
  auto server = capnp::makeRpcServer(network, kj::heap<Answerer>());
  network.onDisconnect().wait(io.waitScope);
  return 0;
}

}  // namespace velt::bench
