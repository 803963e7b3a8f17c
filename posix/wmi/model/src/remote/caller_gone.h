// Waits a stub makes for its caller (an enumerator's Next, a call result's questions) end when
// that caller is gone: otherwise a client that died while it waited without end would leave
// the worker blocked, holding the object (and the producer behind it) and keeping the server
// alive.
#pragma once

#include <wbemcli.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <utility>

#include <kj/async.h>

namespace velt::wmi::remote {

// Set once the call that waits is no longer wanted: its connection was lost or its caller
// cancelled it (the RPC system then drops the call's promise).
using CallerGone = std::shared_ptr<std::atomic<bool>>;

// Loop thread: lets the RPC system cancel the call (it does so when the connection is lost)
// and answers the flag the call's worker reads, which endingWith sets.
template <typename Context>
CallerGone watchCaller(Context& context) {
  context.allowCancellation();
  return std::make_shared<std::atomic<bool>>(false);
}
// Loop thread: the call's promise, setting `gone` once it settled or was dropped.
inline kj::Promise<void> endingWith(kj::Promise<void> answer, CallerGone gone) {
  return answer.attach(kj::defer([gone = std::move(gone)] { gone->store(true); }));
}

// How long one piece of a long wait lasts: a caller that went is noticed within it.
constexpr LONG kWaitSliceMs = 200;

// Waits as `wait(timeout)` would, in pieces of kWaitSliceMs, stopping once `gone` is set.
// `wait(ms)` waits at most `ms` and answers WBEM_S_TIMEDOUT while what it waits for has not
// come; it keeps whatever a piece yielded (an enumerator's objects), so the pieces add up to
// one wait. A caller gone answers the last piece's WBEM_S_TIMEDOUT.
template <typename Wait>
HRESULT waitWhileWanted(LONG timeout, const CallerGone& gone, Wait wait) {
  const bool infinite = timeout == LONG(WBEM_INFINITE);
  if (!infinite && (timeout < 0 || timeout <= kWaitSliceMs)) return wait(timeout);
  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + std::chrono::milliseconds(infinite ? 0 : timeout);
  for (;;) {
    LONG slice = kWaitSliceMs;
    if (!infinite) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
      slice = static_cast<LONG>(std::clamp<long long>(left, 0, kWaitSliceMs));
    }
    const HRESULT status = wait(slice);
    if (status != WBEM_S_TIMEDOUT) return status;
    if (gone->load()) return status;
    if (!infinite && Clock::now() >= end) return status;
  }
}

}  // namespace velt::wmi::remote
