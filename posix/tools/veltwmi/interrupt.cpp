#include "interrupt.h"

#include <atomic>
#include <csignal>

namespace veltwmi {
namespace {

std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void onInterrupt(int signal) {
  if (g_interrupted.exchange(true)) {
    // A second Ctrl-C (or SIGTERM) while the first is being honoured: leave at once, by the
    // signal that was sent, so the parent sees what ended the process.
    std::signal(signal, SIG_DFL);
    std::raise(signal);
  }
}

}  // namespace

void installInterruptHandler() {
  std::signal(SIGINT, onInterrupt);
  std::signal(SIGTERM, onInterrupt);
}
bool interrupted() { return g_interrupted.load(); }
void setInterrupted(bool value) { g_interrupted.store(value); }

}  // namespace veltwmi
