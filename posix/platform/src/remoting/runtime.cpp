// The process's remoting threads: one event-loop thread that owns every connection and
// capability, and a pool of workers on which stubs call the real objects.
#include "runtime.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include <winplatform/remoting.h>

#include "pending_count.h"

namespace velt::remoting {
namespace {

class LoggingErrorHandler final : public kj::TaskSet::ErrorHandler {
 public:
  void taskFailed(kj::Exception&&) override {}  // a failed background task ends only itself
};

// Never destroyed: workers may still finish releases while the process exits.
PendingCount& releasesPending() {
  static auto* pending = new PendingCount;
  return *pending;
}

// The releases a worker's job asked for, made once the job and all it held are gone, in the
// order asked: a call's arguments go before the object it was made on, whose last release may
// end the server. Counted as pending until made.
thread_local std::vector<IUnknown*>* workerReleases = nullptr;

void releaseAll(std::vector<IUnknown*>& releases) {
  while (!releases.empty()) {
    std::vector<IUnknown*> now;
    now.swap(releases);  // a release may ask for more
    for (IUnknown* object : now) {
      object->Release();
      releasesPending().done();
    }
  }
}

// The pool grows when every worker is busy, so a call that blocks (on a callback into its
// client, say) never holds up the calls behind it. Workers live as long as the process.
class WorkerPool {
 public:
  void post(std::function<void()> work) {
    {
      std::lock_guard lock(m_mutex);
      m_queue.push_back(std::move(work));
      // Idle workers already woken for earlier work still count as idle until they take it.
      if (m_queue.size() > static_cast<size_t>(m_idle)) {
        std::thread([this] { run(); }).detach();
        return;
      }
    }
    // After the lock is let go: a worker woken under it would at once wait for it again.
    m_wake.notify_one();
  }

 private:
  void run() {
    std::vector<IUnknown*> releases;
    workerReleases = &releases;
    std::unique_lock lock(m_mutex);
    for (;;) {
      ++m_idle;
      m_wake.wait(lock, [this] { return !m_queue.empty(); });
      --m_idle;
      auto work = std::move(m_queue.front());
      m_queue.pop_front();
      lock.unlock();
      work();
      work = nullptr;  // what it held may post more work, which takes the lock
      releaseAll(releases);
      lock.lock();
    }
  }

  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::deque<std::function<void()>> m_queue;
  int m_idle = 0;
};

// Work handed to the loop thread by threads that do not wait for it to be done.
class LoopPosts {
 public:
  // Any thread.
  void post(std::function<void()> work) {
    kj::Own<kj::CrossThreadPromiseFulfiller<void>> wake;
    {
      std::lock_guard lock(m_mutex);
      m_queue.push_back(std::move(work));
      wake = kj::mv(m_wake);
    }
    if (wake.get() != nullptr) wake->fulfill();
  }

  // Loop thread: runs what is posted, for ever.
  kj::Promise<void> run() {
    std::deque<std::function<void()>> batch;
    {
      std::lock_guard lock(m_mutex);
      batch.swap(m_queue);
      if (batch.empty()) {
        // Armed under the lock that post() takes, so no work slips in unseen.
        auto pair = kj::newPromiseAndCrossThreadFulfiller<void>();
        m_wake = kj::mv(pair.fulfiller);
        return pair.promise.then([this] { return run(); });
      }
    }
    // A job that fails ends only itself: the loop goes on for everyone else.
    for (auto& work : batch) kj::runCatchingExceptions([&] { work(); });
    return kj::evalLater([this] { return run(); });
  }

 private:
  std::mutex m_mutex;
  std::deque<std::function<void()>> m_queue;
  kj::Own<kj::CrossThreadPromiseFulfiller<void>> m_wake;
};

}  // namespace

struct Runtime::State {
  std::mutex mutex;
  std::condition_variable ready;
  kj::UnixEventPort* port = nullptr;
  kj::EventLoop* loop = nullptr;
  kj::TaskSet* tasks = nullptr;
  std::thread::id loopThread;
  WorkerPool workers;
  LoopPosts loopPosts;
};

namespace {
std::atomic<bool> started{false};
}  // namespace

bool runtimeStarted() { return started.load(); }

Runtime& Runtime::get() {
  // Never destroyed: the loop thread and the workers run until the process ends.
  static Runtime* runtime = new Runtime;
  return *runtime;
}

Runtime::Runtime() : m_state(new State) {
  started = true;
  std::thread([this] {
    kj::UnixEventPort port;
    kj::EventLoop loop(port);
    kj::WaitScope waitScope(loop);
    LoggingErrorHandler errors;
    kj::TaskSet tasks(errors);
    {
      std::lock_guard lock(m_state->mutex);
      m_state->port = &port;
      m_state->loop = &loop;
      m_state->tasks = &tasks;
      m_state->loopThread = std::this_thread::get_id();
    }
    m_state->ready.notify_all();
    m_state->loopPosts.run().wait(waitScope);
  }).detach();
  std::unique_lock lock(m_state->mutex);
  m_state->ready.wait(lock, [this] { return m_state->port != nullptr; });
}

kj::UnixEventPort& Runtime::eventPort() const { return *m_state->port; }
bool Runtime::loopHasWork() const { return m_state->loop->isRunnable(); }
bool Runtime::onLoopThread() const { return std::this_thread::get_id() == m_state->loopThread; }
void Runtime::addTask(kj::Promise<void> task) const { m_state->tasks->add(kj::mv(task)); }
void Runtime::post(std::function<void()> work) const { m_state->workers.post(std::move(work)); }
void Runtime::postToLoop(std::function<void()> work) const {
  m_state->loopPosts.post(std::move(work));
}

HRESULT statusOf(const kj::Exception& failure) {
  // A peer that vanished and a peer that answered nonsense leave the object equally unusable.
  (void)failure;
  return RPC_E_DISCONNECTED;
}

HRESULT runOnLoop(std::function<kj::Promise<HRESULT>()> start) {
  // Through the same queue as every hand-over to the loop, so one thread's calls and releases
  // reach the loop in the order the thread made them.
  return runOnLoopServing(std::make_shared<CallerMailbox>(), std::move(start), [] { return true; });
}

namespace {
PendingCount& callsInProgress() {
  static auto* calls = new PendingCount;
  return *calls;
}

// A few turns of the loop: an answer is written in the turns after its call's promise settles.
kj::Promise<void> turns(int left) {
  if (left == 0) return kj::READY_NOW;
  return kj::evalLater([left] { return turns(left - 1); });
}
}  // namespace

void callStarted() { callsInProgress().add(); }
void callFinished() { callsInProgress().done(); }

void answerCallsInProgress() {
  callsInProgress().waitForZero(std::chrono::seconds(5));
  runOnLoop([]() -> kj::Promise<HRESULT> { return turns(32).then([] { return S_OK; }); });
}

bool onLoopThread() { return Runtime::get().onLoopThread(); }
void postToLoop(std::function<void()> work) { Runtime::get().postToLoop(std::move(work)); }
void addLoopTask(kj::Promise<void> task) { Runtime::get().addTask(kj::mv(task)); }
kj::Timer& loopTimer() { return Runtime::get().eventPort().getTimer(); }
void postWork(std::function<void()> work) { Runtime::get().post(std::move(work)); }

void releaseOffLoop(IUnknown* object) {
  if (object == nullptr) return;
  // Handing the release to another worker would cost a wake-up for nothing.
  if (workerReleases != nullptr) {
    releasesPending().add();
    workerReleases->push_back(object);
    return;
  }
  if (!Runtime::get().onLoopThread()) {
    object->Release();
    return;
  }
  releasesPending().add();
  postWork([object] {
    object->Release();
    releasesPending().done();
  });
}

void waitForPendingReleases() { releasesPending().waitForZero(std::chrono::seconds(5)); }

}  // namespace velt::remoting
