// How many proxies and stubs the process holds: a proxy or stub left behind keeps an object of
// another process (or of this one) alive, which no count of local objects would show.
#include <atomic>

#include <winplatform/posix_hooks.h>
#include <winplatform/remoting.h>

namespace velt::remoting {
namespace {

// Made and destroyed on every call that hands an interface pointer across: plain counters,
// never a lock.
std::atomic<LONG> liveProxies{0};
std::atomic<LONG> liveStubs{0};

std::atomic<LONG>& counterOf(RemoteSide side) {
  return side == RemoteSide::proxy ? liveProxies : liveStubs;
}

}  // namespace

void countLive(RemoteSide side, LONG change) {
  counterOf(side).fetch_add(change, std::memory_order_relaxed);
}

}  // namespace velt::remoting

extern "C" void VeltLiveRemoteObjects(LONG* proxies, LONG* stubs) {
  if (proxies != nullptr) *proxies = velt::remoting::liveProxies.load();
  if (stubs != nullptr) *stubs = velt::remoting::liveStubs.load();
}
