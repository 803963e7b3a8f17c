// The remoting threads of the process (see runtime.cpp).
#pragma once

#include <kj/async-unix.h>

#include <functional>
#include <memory>

namespace velt::remoting {

class Runtime {
 public:
  // Starts the loop thread on first use.
  static Runtime& get();

  // Loop thread only.
  kj::UnixEventPort& eventPort() const;
  void addTask(kj::Promise<void> task) const;
  // Loop thread: whether other events wait to run before the loop would sleep.
  bool loopHasWork() const;

  bool onLoopThread() const;
  void post(std::function<void()> work) const;
  // Any thread: runs `work` on the loop thread, without waiting for it.
  void postToLoop(std::function<void()> work) const;

 private:
  Runtime();
  struct State;
  std::unique_ptr<State> m_state;
};

// Waits (a bounded time) until the calls being answered have been answered and their answers
// handed to the connections, so a server that ends right after an answer (the last
// LockServer(FALSE), say) still delivers it. Any thread but the loop thread.
void answerCallsInProgress();

// Whether the process ever used the remoting (so leaving COM need not start it).
bool runtimeStarted();
// Waits (a bounded time) until the releases handed to the workers have run. Not on a worker.
void waitForPendingReleases();

}  // namespace velt::remoting
