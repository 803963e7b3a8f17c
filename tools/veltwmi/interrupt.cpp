#include "interrupt.h"

#include <atomic>
#include <csignal>

namespace veltwmi {
namespace {

std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void onInterrupt(int) {
  if (g_interrupted.exchange(true)) {
    // A second Ctrl-C while the first is being honoured: leave at once.
    std::signal(SIGINT, SIG_DFL);
    std::raise(SIGINT);
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
