// The marshalers by interface identifier, and the conversions between interface pointers and
// capabilities that every stub and proxy goes through.
#include <cstdint>
#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

#include <kj/debug.h>
#include <winplatform/remoting.h>

namespace velt::remoting {
namespace {

struct Entry {
  IID iid;
  InterfaceMarshaler marshaler;
};

struct Table {
  std::mutex mutex;
  std::vector<Entry> entries;
};

Table& table() {
  static auto* marshalers = new Table;
  return *marshalers;
}

std::optional<InterfaceMarshaler> find(REFIID iid) {
  auto& marshalers = table();
  std::lock_guard lock(marshalers.mutex);
  for (const auto& entry : marshalers.entries) {
    if (IsEqualIID(entry.iid, iid)) return entry.marshaler;
  }
  return std::nullopt;
}

}  // namespace

void registerInterface(REFIID iid, InterfaceMarshaler marshaler) {
  auto& marshalers = table();
  std::lock_guard lock(marshalers.mutex);
  for (auto& entry : marshalers.entries) {
    if (IsEqualIID(entry.iid, iid)) {
      entry.marshaler = std::move(marshaler);
      return;
    }
  }
  marshalers.entries.push_back({iid, std::move(marshaler)});
}

bool interfaceRegistered(REFIID iid) { return find(iid).has_value(); }

void Connection::whenLost(std::function<void()> lost) {
  if (m_lost) {
    postWork(std::move(lost));
    return;
  }
  m_whenLost.push_back(std::move(lost));
}

void Connection::markLost() {
  if (m_lost) return;
  m_lost = true;
  for (auto& lost : m_whenLost) postWork(std::move(lost));
  m_whenLost.clear();
}

bool whenDisconnected(IUnknown* proxy, std::function<void()> lost) {
  auto* identity = dynamic_cast<ProxyIdentity*>(proxy);
  if (identity == nullptr) return false;
  auto callback = std::make_shared<std::function<void()>>(std::move(lost));
  HRESULT watched = runOnLoop([identity, callback]() -> kj::Promise<HRESULT> {
    Connection* connection = identity->connection();
    if (connection == nullptr) return S_FALSE;
    connection->whenLost(std::move(*callback));
    return S_OK;
  });
  return watched == S_OK;
}

bool sameObject(IUnknown* a, IUnknown* b) {
  if (a == b) return true;
  auto* first = dynamic_cast<ProxyIdentity*>(a);
  auto* second = dynamic_cast<ProxyIdentity*>(b);
  if (first == nullptr || second == nullptr) return false;
  HRESULT sameConnection = runOnLoop([first, second]() -> kj::Promise<HRESULT> {
    Connection* connection = first->connection();
    return connection != nullptr && connection == second->connection() ? S_OK : S_FALSE;
  });
  if (sameConnection != S_OK) return false;
  std::uint64_t one = 0, other = 0;
  return SUCCEEDED(first->remoteIdentity(one)) && SUCCEEDED(second->remoteIdentity(other)) &&
         one == other;
}

kj::Own<Connection> keepConnection(const Connection::Anchor& anchor) {
  if (anchor == nullptr || *anchor == nullptr) return kj::Own<Connection>();
  return kj::addRef(**anchor);
}

rpc::Unknown::Client toCapability(REFIID iid, IUnknown* object, Connection::Anchor origin) {
  auto marshaler = find(iid);
  if (!marshaler) {
    // Only reachable when a marshaler was withdrawn between the check and the answer.
    releaseOffLoop(object);
    return KJ_EXCEPTION(FAILED, "no marshaler for the interface");
  }
  return marshaler->makeStub(object, kj::mv(origin));
}

HRESULT toInterface(REFIID iid, kj::Own<RemoteObject> remote, void** out) {
  *out = nullptr;
  auto marshaler = find(iid);
  if (!marshaler) return E_NOINTERFACE;
  *out = marshaler->makeProxy(kj::mv(remote));
  return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

kj::Own<RemoteObject> sameConnection(const RemoteObject& from, rpc::Unknown::Client capability) {
  kj::Own<Connection> connection;
  if (from.connection.get() != nullptr) {
    connection = kj::addRef(*const_cast<Connection*>(from.connection.get()));
  }
  return kj::heap<RemoteObject>(RemoteObject{kj::mv(connection), kj::mv(capability)});
}

IID iidFrom(capnp::Data::Reader data) {
  IID iid{};
  if (data.size() == sizeof iid) std::memcpy(&iid, data.begin(), sizeof iid);
  return iid;
}

kj::ArrayPtr<const capnp::byte> iidBytes(REFIID iid) {
  return kj::arrayPtr(reinterpret_cast<const capnp::byte*>(&iid), sizeof iid);
}

kj::Promise<void> UnknownStub::queryInterface(QueryInterfaceContext context) {
  IID iid = iidFrom(context.getParams().getIid());
  if (!interfaceRegistered(iid)) {
    context.getResults().setStatus(E_NOINTERFACE);
    return kj::READY_NOW;
  }
  return onWorker<InterfaceOutcome>([target = hold(), iid] {
           void* found = nullptr;
           HRESULT status = target.get()->QueryInterface(iid, &found);
           return InterfaceOutcome{status, HeldReference(static_cast<IUnknown*>(found))};
         })
      .then([this, context, iid](InterfaceOutcome outcome) mutable {
        answerInterface(context.getResults(), iid, kj::mv(outcome), origin());
      });
}

kj::Promise<void> UnknownStub::identity(IdentityContext context) {
  // The token is the object's IUnknown pointer, as identity goes in COM: the peer is the same
  // user, who could read this process anyway.
  return onWorker<std::uint64_t>([target = hold()] {
           IUnknown* unknown = nullptr;
           if (FAILED(target.get()->QueryInterface(IID_IUnknown,
                                                   reinterpret_cast<void**>(&unknown))) ||
               unknown == nullptr) {
             return std::uint64_t(reinterpret_cast<std::uintptr_t>(target.get()));
           }
           auto token = std::uint64_t(reinterpret_cast<std::uintptr_t>(unknown));
           unknown->Release();
           return token;
         })
      .then([context](std::uint64_t token) mutable { context.getResults().setToken(token); });
}

}  // namespace velt::remoting
