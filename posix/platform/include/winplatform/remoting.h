// POSIX only: the proxies and stubs that carry interface pointers between processes. The
// runtime carries IUnknown and IClassFactory itself; a layer that owns other interfaces writes
// their schema (extending velt.rpc.Unknown, imported as "/velt/com.capnp") and registers a
// marshaler per interface identifier, as a proxy/stub library does on Windows.
//
// Threads: every capability lives on the runtime's event-loop thread. Stubs are created and
// answer there, and hand the call to the real object on a worker thread (onWorker), so calls
// from several clients run at once. Proxies are called on any thread but the loop thread; they
// block in callRemote until the answer arrives.
#pragma once

#include <capnp/capability.h>
#include <kj/async.h>
#include <kj/refcount.h>
#include <kj/timer.h>
#include <objbase.h>
#include <velt/com.capnp.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace velt::remoting {

// One connection between two processes (loop thread only). Proxies keep it alive; stubs know
// it only through its anchor, which it clears when it goes: a stub must not keep its own
// connection alive, or a client that vanished would leave its stubs behind.
class Connection : public kj::Refcounted {
 public:
  using Anchor = std::shared_ptr<Connection*>;
  Connection() : m_anchor(std::make_shared<Connection*>(this)) {}
  ~Connection() noexcept(false) { *m_anchor = nullptr; }
  const Anchor& anchor() const { return m_anchor; }

  // Runs `lost` on a worker thread once the peer is gone (at once when it already is).
  void whenLost(std::function<void()> lost);
  // Called by the connection when its peer is gone; runs what waits for that, once.
  void markLost();
  bool isLost() const { return m_lost; }

 private:
  Anchor m_anchor;
  bool m_lost = false;
  std::vector<std::function<void()>> m_whenLost;
};

// What every proxy is besides its interface: the connection it stands on.
class ProxyIdentity {
 public:
  // Loop thread.
  virtual Connection* connection() = 0;
  // Any thread but the loop thread: the token naming the remote object (see sameObject).
  virtual HRESULT remoteIdentity(std::uint64_t& token) = 0;

 protected:
  ~ProxyIdentity() = default;
};

// Runs `lost` on a worker thread once the connection behind `proxy` is lost (at once when it
// already is). False when `proxy` is an object of this process, which no loss can take.
// Any thread but the loop thread.
bool whenDisconnected(IUnknown* proxy, std::function<void()> lost);

// Whether `a` and `b` are one object, as comparing IUnknown pointers tells in one process: an
// object of another process that crossed twice arrives as two proxies. Asks the other process
// once per proxy. Any thread but the loop thread.
bool sameObject(IUnknown* a, IUnknown* b);

// Loop thread: a reference on the connection `anchor` names; null when it is gone or unnamed.
kj::Own<Connection> keepConnection(const Connection::Anchor& anchor);

// What a proxy stands on: one capability and the connection it came over (kept alive as long
// as the capability). Created, used and destroyed on the loop thread only.
struct RemoteObject {
  kj::Own<Connection> connection;  // may be null
  rpc::Unknown::Client capability;
};

struct InterfaceMarshaler {
  // Loop thread: the stub for `object`, which already is this interface, serving the
  // connection `origin` names (the capabilities it receives in calls came over it). The stub
  // takes over the caller's reference and must release it (releaseOffLoop) when destroyed.
  std::function<rpc::Unknown::Client(IUnknown* object, Connection::Anchor origin)> makeStub;
  // Loop thread: a proxy for `remote`, returned with one reference.
  std::function<IUnknown*(kj::Own<RemoteObject> remote)> makeProxy;
};

// The marshaler whose stubs are Stub(object, origin) and whose proxies are Proxy(remote).
template <class Stub, class Proxy>
InterfaceMarshaler marshalerOf() {
  return {[](IUnknown* object, Connection::Anchor origin) -> rpc::Unknown::Client {
            return kj::heap<Stub>(object, kj::mv(origin));
          },
          [](kj::Own<RemoteObject> remote) -> IUnknown* { return new Proxy(kj::mv(remote)); }};
}

// Registers (or replaces) the marshaler of `iid`. Any thread.
void registerInterface(REFIID iid, InterfaceMarshaler marshaler);
bool interfaceRegistered(REFIID iid);

// Loop thread: the stub / proxy for an interface pointer of interface `iid`. toCapability takes
// over `object`'s reference; toInterface answers E_NOINTERFACE when `iid` has no marshaler.
rpc::Unknown::Client toCapability(REFIID iid, IUnknown* object, Connection::Anchor origin);
HRESULT toInterface(REFIID iid, kj::Own<RemoteObject> remote, void** out);
kj::Own<RemoteObject> sameConnection(const RemoteObject& from, rpc::Unknown::Client capability);

// The status a failed remote call answers: a lost connection or server is the disconnection
// status; other transport failures are RPC_E_DISCONNECTED too, as the object is unusable.
HRESULT statusOf(const kj::Exception& failure);

// Runs `start` on the loop thread and blocks the calling thread until the promise it returns
// (of HRESULT) settles. A transport failure answers statusOf(failure).
HRESULT runOnLoop(std::function<kj::Promise<HRESULT>()> start);
bool onLoopThread();
// Any thread: runs `work` on the loop thread, in the order handed over, without waiting.
void postToLoop(std::function<void()> work);

// Where a thread that makes a call waits for its answer, and meanwhile does the work the call
// brings back into this process (what the callee makes on a sink the call handed over). Done
// by a worker, that work would wake the worker, then the loop thread, then the caller; done
// here it wakes only the caller, which waits anyway.
class CallerMailbox {
 public:
  // Any thread: `work` runs on the waiting caller; once the caller has gone, on a worker.
  void post(std::function<void()> work);
  // Any thread: what the caller waits for may have changed.
  void kick();

  // Loop thread: the call's answer.
  void finish(HRESULT status);
  // The calling thread: runs what is posted until the answer came and `settled()` holds, then
  // hands what is left to workers. Answers the call's status.
  HRESULT serve(const std::function<bool()>& settled);

 private:
  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::deque<std::function<void()>> m_work;
  std::uint64_t m_kicks = 0;
  bool m_finished = false;
  bool m_closed = false;
  HRESULT m_status = E_UNEXPECTED;
};

// As runOnLoop, but the calling thread serves `mailbox` while it waits, and once the promise
// settled goes on serving until `settled()` (asked on the calling thread) holds.
HRESULT runOnLoopServing(const std::shared_ptr<CallerMailbox>& mailbox,
                         std::function<kj::Promise<HRESULT>()> start,
                         const std::function<bool()>& settled);
// Loop thread: runs `task` in the background; its failure ends only itself.
void addLoopTask(kj::Promise<void> task);
// Loop thread: the loop's clock, and delays measured by it.
kj::Timer& loopTimer();

// Queues `work` on a worker thread of the process (never the loop thread).
void postWork(std::function<void()> work);
// Releases `object` at once, or on a worker when called on the loop thread: its last release
// may call other proxies, which cannot be called from the loop thread.
void releaseOffLoop(IUnknown* object);

// Counts the calls a stub is answering, so a server that ends answers them first.
void callStarted();
void callFinished();

// Loop thread: runs `work` (returning T, never throwing) on a worker thread; the promise settles
// on the loop thread with its value.
template <typename T, typename Work>
kj::Promise<T> onWorker(Work work) {
  auto pair = kj::newPromiseAndCrossThreadFulfiller<T>();
  auto fulfiller =
      std::make_shared<kj::Own<kj::CrossThreadPromiseFulfiller<T>>>(kj::mv(pair.fulfiller));
  auto task = std::make_shared<Work>(std::move(work));
  callStarted();
  postWork([fulfiller, task] { (*fulfiller)->fulfill((*task)()); });
  return kj::mv(pair.promise).attach(kj::defer([] { callFinished(); }));
}

// A COM reference that crosses threads inside the runtime: never released on the loop thread.
class HeldReference {
 public:
  HeldReference() = default;
  explicit HeldReference(IUnknown* object) : m_object(object) {}
  HeldReference(HeldReference&& other) noexcept
      : m_object(std::exchange(other.m_object, nullptr)) {}
  HeldReference& operator=(HeldReference&& other) noexcept {
    if (this != &other) {
      if (m_object != nullptr) releaseOffLoop(m_object);
      m_object = std::exchange(other.m_object, nullptr);
    }
    return *this;
  }
  ~HeldReference() {
    if (m_object != nullptr) releaseOffLoop(m_object);
  }
  IUnknown* get() const { return m_object; }
  IUnknown* detach() { return std::exchange(m_object, nullptr); }

 private:
  IUnknown* m_object = nullptr;
};

// A proxy's or a stub's share of the process's live count (VeltLiveRemoteObjects): one that
// is never destroyed stays counted, so a process's leak checks see it. Any thread.
enum class RemoteSide { proxy, stub };
void countLive(RemoteSide side, LONG change);
template <RemoteSide Side>
class LiveCounted {
 public:
  LiveCounted() { countLive(Side, 1); }
  ~LiveCounted() { countLive(Side, -1); }
  LiveCounted(const LiveCounted&) = delete;
  LiveCounted& operator=(const LiveCounted&) = delete;
};

// The outcome of a COM call that answers an interface pointer.
struct InterfaceOutcome {
  HRESULT status = E_UNEXPECTED;
  HeldReference object;
};

// The server side of one interface: holds one reference on the real object and answers
// QueryInterface. Interface stubs derive from it and from their schema's Server.
class UnknownStub : public virtual rpc::Unknown::Server {
 public:
  UnknownStub(IUnknown* object, Connection::Anchor origin)
      : m_object(object), m_origin(kj::mv(origin)) {}
  // Virtual: stubs are deleted through this base by the RPC system's heap disposers.
  virtual ~UnknownStub() { releaseOffLoop(m_object); }
  UnknownStub(const UnknownStub&) = delete;
  UnknownStub& operator=(const UnknownStub&) = delete;

 protected:
  kj::Promise<void> queryInterface(QueryInterfaceContext context) override;
  kj::Promise<void> identity(IdentityContext context) override;
  // A reference for a call on a worker: the stub may go (its client gone) while the call runs.
  HeldReference hold() const {
    m_object->AddRef();
    return HeldReference(m_object);
  }
  // Loop thread: the connection the stub serves, for the stubs of what its calls answer.
  const Connection::Anchor& origin() const { return m_origin; }
  // Loop thread: a capability received in a call, standing on this stub's connection (which
  // its proxy keeps alive, so the provider's copy of a sink outlives the call that brought it).
  kj::Own<RemoteObject> received(rpc::Unknown::Client capability) const {
    return kj::heap<RemoteObject>(RemoteObject{keepConnection(m_origin), kj::mv(capability)});
  }

 private:
  IUnknown* m_object;
  Connection::Anchor m_origin;
  LiveCounted<RemoteSide::stub> m_counted;
};

// Fills an answer's status and object from an InterfaceOutcome (loop thread).
template <typename Results>
void answerInterface(Results results, REFIID iid, InterfaceOutcome outcome,
                     const Connection::Anchor& origin) {
  results.setStatus(outcome.status);
  if (SUCCEEDED(outcome.status) && outcome.object.get() != nullptr) {
    results.setObject(toCapability(iid, outcome.object.detach(), origin));
  }
}

IID iidFrom(capnp::Data::Reader data);
kj::ArrayPtr<const capnp::byte> iidBytes(REFIID iid);

// The client side of one interface: local reference counts over one remote object, whose
// capability the last Release drops. QueryInterface for other interfaces goes to the server.
template <typename Interface>
class ProxyBase : public Interface, public ProxyIdentity {
 public:
  ProxyBase(REFIID iid, kj::Own<RemoteObject> remote) : m_iid(iid), m_remote(kj::mv(remote)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, m_iid)) {
      *out = static_cast<Interface*>(this);
      AddRef();
      return S_OK;
    }
    if (!interfaceRegistered(iid)) return E_NOINTERFACE;
    IID wanted = iid;
    return runOnLoop([this, wanted, out]() -> kj::Promise<HRESULT> {
      auto request = m_remote->capability.queryInterfaceRequest();
      request.setIid(iidBytes(wanted));
      return request.send().then([this, wanted, out](auto response) -> HRESULT {
        HRESULT status = response.getStatus();
        if (FAILED(status)) return status;
        return toInterface(wanted, sameConnection(*m_remote, response.getObject()), out);
      });
    });
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --m_refs;
    if (left == 0) {
      beforeDrop();
      dropRemote();
      delete this;
    }
    return left;
  }
  Connection* connection() override { return m_remote->connection.get(); }
  HRESULT remoteIdentity(std::uint64_t& token) override {
    if (m_identityKnown) {
      token = m_identity;
      return S_OK;
    }
    HRESULT status = runOnLoop([this]() -> kj::Promise<HRESULT> {
      return m_remote->capability.identityRequest().send().then([this](auto answer) -> HRESULT {
        m_identity = answer.getToken();
        m_identityKnown = true;
        return S_OK;
      });
    });
    token = m_identity;
    return status;
  }

 protected:
  virtual ~ProxyBase() = default;
  // On the last Release, before the capability goes (the thread that released).
  virtual void beforeDrop() {}
  // On the last Release: what else of the proxy lives on the loop, moved out to be dropped
  // there with the capability (moving a capability is no use of it, so any thread may).
  virtual std::function<void()> loopLeftovers() { return nullptr; }
  // Loop thread only.
  RemoteObject& remote() { return *m_remote; }
  // Loop thread: the connection the proxy's calls go over, for the stubs of their arguments.
  Connection::Anchor origin() const {
    return m_remote->connection.get() != nullptr ? m_remote->connection->anchor() : nullptr;
  }
  template <typename Schema>
  typename Schema::Client capabilityAs() {
    return m_remote->capability.template castAs<Schema>();
  }

 private:
  void dropRemote() {
    std::function<void()> leftovers = loopLeftovers();
    if (onLoopThread()) {
      if (leftovers) leftovers();
      m_remote = nullptr;
      return;
    }
    // Nobody waits for the drop: it reaches the loop after what this thread handed it before,
    // and before what it hands it next.
    auto remote = std::make_shared<kj::Own<RemoteObject>>(kj::mv(m_remote));
    postToLoop([remote, leftovers = std::move(leftovers)] {
      if (leftovers) leftovers();
      *remote = nullptr;
    });
  }

  IID m_iid;
  kj::Own<RemoteObject> m_remote;
  std::atomic<ULONG> m_refs{1};
  std::atomic<std::uint64_t> m_identity{0};
  std::atomic<bool> m_identityKnown{false};
  LiveCounted<RemoteSide::proxy> m_counted;
};

}  // namespace velt::remoting
