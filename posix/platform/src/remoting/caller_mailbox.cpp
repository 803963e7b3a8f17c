// A caller that waits for its answer and meanwhile runs what its call brought back.
#include <winplatform/remoting.h>

#include "runtime.h"

namespace velt::remoting {

// Each notice is given after the lock is let go: a caller woken under it would at once wait
// for it again.

void CallerMailbox::post(std::function<void()> work) {
  {
    std::lock_guard lock(m_mutex);
    if (m_closed) {
      // The caller has gone: a worker does it, as for a call nobody waits in.
      postWork(std::move(work));
      return;
    }
    m_work.push_back(std::move(work));
  }
  m_wake.notify_one();
}

void CallerMailbox::kick() {
  {
    std::lock_guard lock(m_mutex);
    ++m_kicks;
  }
  m_wake.notify_one();
}

void CallerMailbox::finish(HRESULT status) {
  {
    std::lock_guard lock(m_mutex);
    m_status = status;
    m_finished = true;
  }
  m_wake.notify_one();
}

HRESULT CallerMailbox::serve(const std::function<bool()>& settled) {
  std::unique_lock lock(m_mutex);
  for (;;) {
    // Asked before any further work, so work that keeps coming cannot hold the caller.
    std::uint64_t kicks = m_kicks;
    if (m_finished) {
      lock.unlock();
      const bool done = settled();
      lock.lock();
      if (done) break;
    }
    if (!m_work.empty()) {
      auto work = std::move(m_work.front());
      m_work.pop_front();
      lock.unlock();
      work();
      work = nullptr;  // what it held may post more, which takes the lock
      lock.lock();
      continue;
    }
    // A kick between asking and waiting is seen by the count, not lost.
    if (m_finished && m_kicks != kicks) continue;
    m_wake.wait(lock);
  }
  m_closed = true;
  std::deque<std::function<void()>> left = std::move(m_work);
  const HRESULT status = m_status;
  lock.unlock();
  for (auto& work : left) postWork(std::move(work));
  return status;
}

HRESULT runOnLoopServing(const std::shared_ptr<CallerMailbox>& mailbox,
                         std::function<kj::Promise<HRESULT>()> start,
                         const std::function<bool()>& settled) {
  auto& runtime = Runtime::get();
  if (runtime.onLoopThread()) return RPC_E_CANTCALLOUT_ININPUTSYNCCALL;
  // `start` stays where it is until its promise settled: the continuations it makes may refer
  // to what it holds.
  auto held = std::make_shared<std::function<kj::Promise<HRESULT>()>>(std::move(start));
  runtime.postToLoop([&runtime, mailbox, held] {
    KJ_IF_MAYBE (failure, kj::runCatchingExceptions([&] {
                   runtime.addTask(kj::evalNow([&] { return (*held)(); })
                                       .then([mailbox](HRESULT status) { mailbox->finish(status); },
                                             [mailbox](kj::Exception&& failure) {
                                               mailbox->finish(statusOf(failure));
                                             })
                                       .attach(kj::mv(held)));
                 })) {
      mailbox->finish(statusOf(*failure));  // the caller must not wait for what never started
    }
  });
  return mailbox->serve(settled);
}

}  // namespace velt::remoting
