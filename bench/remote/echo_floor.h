// The floor of a call across processes: a bare call and its answer, of the sizes a request and
// its answer have, on the same kind of socket the remoting uses, to a process that does nothing
// but answer.
#pragma once

#include <sys/types.h>

#include <memory>

namespace velt::bench {

class EchoFloor {
 public:
  // Starts the answering process (this executable again, see echoChildMain).
  EchoFloor();
  ~EchoFloor();
  EchoFloor(const EchoFloor&) = delete;
  EchoFloor& operator=(const EchoFloor&) = delete;

  // One round trip; the calling thread waits for the answer.
  void call(size_t requestBytes, size_t replyBytes);

 private:
  struct State;
  std::unique_ptr<State> m_state;
  pid_t m_child = -1;
};

// The answering process's main: serves on the socket `fd` until it closes.
int echoChildMain(int fd);

}  // namespace velt::bench
