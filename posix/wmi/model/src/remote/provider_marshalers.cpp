// IWbemProviderInit and IWbemEventProvider across processes: how WMI starts a provider and hands
// it the sink its events go to.
#include <wbemprov.h>

#include <memory>

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

class ProviderInitStub final : public rpc::ProviderInit::Server, public remoting::UnknownStub {
 public:
  ProviderInitStub(IUnknown* object, Connection::Anchor origin)
      : UnknownStub(object, kj::mv(origin)) {}

 protected:
  kj::Promise<void> initialize(InitializeContext context) override {
    auto params = context.getParams();
    ComPtr<IWbemContext> callContext;
    if (params.hasContext()) {
      HRESULT status = readContext(params.getContext(), callContext);
      if (FAILED(status)) {
        context.getResults().setStatus(status);
        return kj::READY_NOW;
      }
    }
    struct Arguments {
      ReceivedText user, nameSpace, locale;
      HeldReference services, sink;
    };
    auto arguments = std::make_shared<Arguments>();
    arguments->user = ReceivedText(params.hasUser(), params.getUser());
    arguments->nameSpace = ReceivedText(params.hasNameSpace(), params.getNameSpace());
    arguments->locale = ReceivedText(params.hasLocale(), params.getLocale());
    if (params.hasServices()) {
      arguments->services = argumentProxy(IID_IWbemServices, received(params.getServices()));
    }
    if (params.hasSink()) {
      arguments->sink = argumentProxy(IID_IWbemProviderInitSink, received(params.getSink()));
    }
    LONG flags = params.getFlags();
    return onWorker<HRESULT>([init = hold(), arguments, flags, callContext] {
             return as<IWbemProviderInit>(init)->Initialize(
                 arguments->user.get(), flags, arguments->nameSpace.get(), arguments->locale.get(),
                 as<IWbemServices>(arguments->services), callContext.get(),
                 as<IWbemProviderInitSink>(arguments->sink));
           })
        .then([context](HRESULT status) mutable { context.getResults().setStatus(status); });
  }
};

class ProviderInitProxy final : public remoting::ProxyBase<IWbemProviderInit>,
                                public detail::ArenaAllocated {
 public:
  explicit ProviderInitProxy(kj::Own<remoting::RemoteObject> remote)
      : ProxyBase(IID_IWbemProviderInit, kj::mv(remote)) {}

  HRESULT STDMETHODCALLTYPE Initialize(LPWSTR user, LONG flags, LPWSTR nameSpace, LPWSTR locale,
                                       IWbemServices* services, IWbemContext* callContext,
                                       IWbemProviderInitSink* sink) override {
    return runOnLoop([=, this]() -> kj::Promise<HRESULT> {
      auto request = capabilityAs<rpc::ProviderInit>().initializeRequest();
      if (user != nullptr) request.setUser(textBytes(user));
      request.setFlags(flags);
      if (nameSpace != nullptr) request.setNameSpace(textBytes(nameSpace));
      if (locale != nullptr) request.setLocale(textBytes(locale));
      if (callContext != nullptr) {
        HRESULT status = writeContext(callContext, request.initContext());
        if (FAILED(status)) return status;
      }
      if (services != nullptr) {
        request.setServices(argumentCapability(IID_IWbemServices, services, origin()));
      }
      if (sink != nullptr) {
        request.setSink(argumentCapability(IID_IWbemProviderInitSink, sink, origin()));
      }
      return request.send().then([](auto answer) -> HRESULT { return answer.getStatus(); });
    });
  }
};

class EventProviderStub final : public rpc::EventProvider::Server, public remoting::UnknownStub {
 public:
  EventProviderStub(IUnknown* object, Connection::Anchor origin)
      : UnknownStub(object, kj::mv(origin)) {}

 protected:
  kj::Promise<void> provideEvents(ProvideEventsContext context) override {
    auto params = context.getParams();
    HeldReference sink;
    if (params.hasSink()) sink = argumentProxy(IID_IWbemObjectSink, received(params.getSink()));
    LONG flags = params.getFlags();
    return onWorker<HRESULT>([provider = hold(), sink = std::move(sink), flags] {
             return as<IWbemEventProvider>(provider)->ProvideEvents(as<IWbemObjectSink>(sink),
                                                                    flags);
           })
        .then([context](HRESULT status) mutable { context.getResults().setStatus(status); });
  }
};

class EventProviderProxy final : public remoting::ProxyBase<IWbemEventProvider>,
                                 public detail::ArenaAllocated {
 public:
  explicit EventProviderProxy(kj::Own<remoting::RemoteObject> remote)
      : ProxyBase(IID_IWbemEventProvider, kj::mv(remote)) {}

  HRESULT STDMETHODCALLTYPE ProvideEvents(IWbemObjectSink* sink, LONG flags) override {
    return runOnLoop([this, sink, flags]() -> kj::Promise<HRESULT> {
      auto request = capabilityAs<rpc::EventProvider>().provideEventsRequest();
      if (sink != nullptr) request.setSink(argumentCapability(IID_IWbemObjectSink, sink, origin()));
      request.setFlags(flags);
      return request.send().then([](auto answer) -> HRESULT { return answer.getStatus(); });
    });
  }
};

}  // namespace

void registerProviderMarshalers() {
  remoting::registerInterface(IID_IWbemProviderInit,
                              remoting::marshalerOf<ProviderInitStub, ProviderInitProxy>());
  remoting::registerInterface(IID_IWbemEventProvider,
                              remoting::marshalerOf<EventProviderStub, EventProviderProxy>());
}

}  // namespace velt::wmi::remote
