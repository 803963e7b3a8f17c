// IWbemObjectSink and IWbemProviderInitSink across processes: what a provider answers with.
#include <wbemprov.h>

#include <vector>

#include "arguments.h"
#include "object_codec.h"
#include "wmi_remoting.h"

namespace velt::wmi::remote {
namespace {

using remoting::Connection;
using remoting::HeldReference;
using remoting::onWorker;
using remoting::runOnLoop;
using velt::ComPtr;

class ObjectSinkStub final : public rpc::ObjectSink::Server, public remoting::UnknownStub {
 public:
  ObjectSinkStub(IUnknown* object, Connection::Anchor origin)
      : UnknownStub(object, kj::mv(origin)) {}

 protected:
  kj::Promise<void> indicate(IndicateContext context) override {
    std::vector<ComPtr<IWbemClassObject>> objects;
    for (auto in : context.getParams().getObjects()) {
      ComPtr<IWbemClassObject> object;
      HRESULT status = readObject(in, object);
      if (FAILED(status)) {
        context.getResults().setStatus(status);
        return kj::READY_NOW;
      }
      objects.push_back(std::move(object));
    }
    return onWorker<HRESULT>([sink = hold(), objects = std::move(objects)] {
             std::vector<IWbemClassObject*> raw;
             for (const auto& object : objects) raw.push_back(object.get());
             return as<IWbemObjectSink>(sink)->Indicate(LONG(raw.size()), raw.data());
           })
        .then([context](HRESULT status) mutable { context.getResults().setStatus(status); });
  }

  kj::Promise<void> setStatus(SetStatusContext context) override {
    auto params = context.getParams();
    ComPtr<IWbemClassObject> object;
    if (params.hasObject()) {
      HRESULT status = readObject(params.getObject(), object);
      if (FAILED(status)) {
        context.getResults().setStatus(status);
        return kj::READY_NOW;
      }
    }
    LONG flags = params.getFlags();
    HRESULT result = params.getResult();
    auto text = std::make_shared<ReceivedText>(params.hasParam(), params.getParam());
    return onWorker<HRESULT>([sink = hold(), flags, result, text, object = std::move(object)] {
             return as<IWbemObjectSink>(sink)->SetStatus(flags, result, text->get(), object.get());
           })
        .then([context](HRESULT status) mutable { context.getResults().setStatus(status); });
  }
};

class ObjectSinkProxy final : public remoting::ProxyBase<IWbemObjectSink>,
                              public detail::ArenaAllocated {
 public:
  explicit ObjectSinkProxy(kj::Own<remoting::RemoteObject> remote)
      : ProxyBase(IID_IWbemObjectSink, kj::mv(remote)) {}

  HRESULT STDMETHODCALLTYPE Indicate(LONG count, IWbemClassObject** objects) override {
    if (count < 0 || (count > 0 && objects == nullptr)) return WBEM_E_INVALID_PARAMETER;
    return runOnLoop([this, count, objects]() -> kj::Promise<HRESULT> {
      auto request = capabilityAs<rpc::ObjectSink>().indicateRequest();
      auto list = request.initObjects(unsigned(count));
      for (LONG i = 0; i < count; ++i) {
        HRESULT status = writeObject(objects[i], list[unsigned(i)]);
        if (FAILED(status)) return status;
      }
      return request.send().then([](auto answer) -> HRESULT { return answer.getStatus(); });
    });
  }

  HRESULT STDMETHODCALLTYPE SetStatus(LONG flags, HRESULT result, BSTR param,
                                      IWbemClassObject* object) override {
    return runOnLoop([this, flags, result, param, object]() -> kj::Promise<HRESULT> {
      auto request = capabilityAs<rpc::ObjectSink>().setStatusRequest();
      request.setFlags(flags);
      request.setResult(result);
      if (param != nullptr) request.setParam(textBytes(param));
      if (object != nullptr) {
        HRESULT status = writeObject(object, request.initObject());
        if (FAILED(status)) return status;
      }
      return request.send().then([](auto answer) -> HRESULT { return answer.getStatus(); });
    });
  }
};

class InitSinkStub final : public rpc::ProviderInitSink::Server, public remoting::UnknownStub {
 public:
  InitSinkStub(IUnknown* object, Connection::Anchor origin) : UnknownStub(object, kj::mv(origin)) {}

 protected:
  kj::Promise<void> setStatus(SetStatusContext context) override {
    LONG status = context.getParams().getStatus();
    LONG flags = context.getParams().getFlags();
    return onWorker<HRESULT>([sink = hold(), status, flags] {
             return as<IWbemProviderInitSink>(sink)->SetStatus(status, flags);
           })
        .then([context](HRESULT answer) mutable { context.getResults().setStatus(answer); });
  }
};

class InitSinkProxy final : public remoting::ProxyBase<IWbemProviderInitSink>,
                            public detail::ArenaAllocated {
 public:
  explicit InitSinkProxy(kj::Own<remoting::RemoteObject> remote)
      : ProxyBase(IID_IWbemProviderInitSink, kj::mv(remote)) {}

  HRESULT STDMETHODCALLTYPE SetStatus(LONG status, LONG flags) override {
    return runOnLoop([this, status, flags]() -> kj::Promise<HRESULT> {
      auto request = capabilityAs<rpc::ProviderInitSink>().setStatusRequest();
      request.setStatus(status);
      request.setFlags(flags);
      return request.send().then([](auto answer) -> HRESULT { return answer.getStatus(); });
    });
  }
};

}  // namespace

void registerSinkMarshalers() {
  remoting::registerInterface(
      IID_IWbemObjectSink,
      {[](IUnknown* object, Connection::Anchor origin) -> velt::rpc::Unknown::Client {
         return kj::heap<ObjectSinkStub>(object, kj::mv(origin));
       },
       [](kj::Own<remoting::RemoteObject> remote) -> IUnknown* {
         return new ObjectSinkProxy(kj::mv(remote));
       }});
  remoting::registerInterface(
      IID_IWbemProviderInitSink,
      {[](IUnknown* object, Connection::Anchor origin) -> velt::rpc::Unknown::Client {
         return kj::heap<InitSinkStub>(object, kj::mv(origin));
       },
       [](kj::Own<remoting::RemoteObject> remote) -> IUnknown* {
         return new InitSinkProxy(kj::mv(remote));
       }});
}

}  // namespace velt::wmi::remote
