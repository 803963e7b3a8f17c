// The proxies and stubs of the interfaces every COM object may cross with: IUnknown and
// IClassFactory.
#include "generic_marshalers.h"

#include <mutex>

#include <winplatform/remoting.h>

namespace velt::remoting {
namespace {

class UnknownProxy final : public ProxyBase<IUnknown> {
 public:
  explicit UnknownProxy(kj::Own<RemoteObject> remote) : ProxyBase(IID_IUnknown, kj::mv(remote)) {}
};

class ClassFactoryStub final : public rpc::ClassFactory::Server, public UnknownStub {
 public:
  ClassFactoryStub(IUnknown* object, Connection::Anchor origin)
      : UnknownStub(object, kj::mv(origin)) {}

 protected:
  kj::Promise<void> createInstance(CreateInstanceContext context) override {
    IID iid = iidFrom(context.getParams().getIid());
    if (!interfaceRegistered(iid)) {
      // The object could not cross without a proxy, so it is not made at all.
      context.getResults().setStatus(E_NOINTERFACE);
      return kj::READY_NOW;
    }
    return onWorker<InterfaceOutcome>([factory = hold(), iid] {
             auto* classFactory = static_cast<IClassFactory*>(factory.get());
             void* made = nullptr;
             HRESULT status = classFactory->CreateInstance(nullptr, iid, &made);
             return InterfaceOutcome{status, HeldReference(static_cast<IUnknown*>(made))};
           })
        .then([this, context, iid](InterfaceOutcome outcome) mutable {
          answerInterface(context.getResults(), iid, kj::mv(outcome), origin());
        });
  }

  kj::Promise<void> lockServer(LockServerContext context) override {
    BOOL lock = context.getParams().getLock() ? TRUE : FALSE;
    return onWorker<HRESULT>([factory = hold(), lock] {
             return static_cast<IClassFactory*>(factory.get())->LockServer(lock);
           })
        .then([context](HRESULT status) mutable { context.getResults().setStatus(status); });
  }
};

class ClassFactoryProxy final : public ProxyBase<IClassFactory> {
 public:
  explicit ClassFactoryProxy(kj::Own<RemoteObject> remote)
      : ProxyBase(IID_IClassFactory, kj::mv(remote)) {}

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    // Aggregation cannot cross processes.
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    if (!interfaceRegistered(iid)) return E_NOINTERFACE;
    IID wanted = iid;
    return runOnLoop([this, wanted, out]() -> kj::Promise<HRESULT> {
      auto request = capabilityAs<rpc::ClassFactory>().createInstanceRequest();
      request.setIid(iidBytes(wanted));
      return request.send().then([this, wanted, out](auto response) -> HRESULT {
        HRESULT status = response.getStatus();
        if (FAILED(status)) return status;
        return toInterface(wanted, sameConnection(remote(), response.getObject()), out);
      });
    });
  }

  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    return runOnLoop([this, lock]() -> kj::Promise<HRESULT> {
      auto request = capabilityAs<rpc::ClassFactory>().lockServerRequest();
      request.setLock(lock != FALSE);
      return request.send().then([](auto response) -> HRESULT { return response.getStatus(); });
    });
  }
};

}  // namespace

void registerGenericMarshalers() {
  static std::once_flag once;
  std::call_once(once, [] {
    registerInterface(IID_IUnknown, marshalerOf<UnknownStub, UnknownProxy>());
    registerInterface(IID_IClassFactory, marshalerOf<ClassFactoryStub, ClassFactoryProxy>());
  });
}

}  // namespace velt::remoting
