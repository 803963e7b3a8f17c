// IWbemLocator across processes: a client asks a service in another process for a namespace
// and gets that namespace as a capability into the service.
#include <wbemcli.h>

#include <memory>

#include "arguments.h"
#include "object_codec.h"
#include "wmi_remoting.h"

namespace velt::wmi::remote {
namespace {

using remoting::Connection;
using remoting::InterfaceOutcome;
using remoting::onWorker;
using remoting::runOnLoop;
using velt::ComPtr;

class LocatorStub final : public rpc::Locator::Server, public remoting::UnknownStub {
 public:
  LocatorStub(IUnknown* object, Connection::Anchor origin) : UnknownStub(object, kj::mv(origin)) {}

 protected:
  kj::Promise<void> connectServer(ConnectServerContext context) override {
    auto params = context.getParams();
    struct Arguments {
      ReceivedText resource, user, password, locale, authority;
      ComPtr<IWbemContext> context;
      LONG securityFlags = 0;
    };
    auto arguments = std::make_shared<Arguments>();
    if (params.hasContext()) {
      HRESULT status = readContext(params.getContext(), arguments->context);
      if (FAILED(status)) {
        context.getResults().setStatus(status);
        return kj::READY_NOW;
      }
    }
    arguments->resource = ReceivedText(params.hasResource(), params.getResource());
    arguments->user = ReceivedText(params.hasUser(), params.getUser());
    arguments->password = ReceivedText(params.hasPassword(), params.getPassword());
    arguments->locale = ReceivedText(params.hasLocale(), params.getLocale());
    arguments->authority = ReceivedText(params.hasAuthority(), params.getAuthority());
    arguments->securityFlags = params.getSecurityFlags();
    return onWorker<InterfaceOutcome>([locator = hold(), arguments] {
             IWbemServices* made = nullptr;
             HRESULT status =
                 static_cast<IWbemLocator*>(locator.get())
                     ->ConnectServer(arguments->resource.get(), arguments->user.get(),
                                     arguments->password.get(), arguments->locale.get(),
                                     arguments->securityFlags, arguments->authority.get(),
                                     arguments->context.get(), &made);
             if (FAILED(status) && made != nullptr) {
               made->Release();
               made = nullptr;
             }
             return InterfaceOutcome{status, remoting::HeldReference(made)};
           })
        .then([this, context](InterfaceOutcome outcome) mutable {
          auto results = context.getResults();
          results.setStatus(outcome.status);
          if (SUCCEEDED(outcome.status) && outcome.object.get() != nullptr) {
            results.setServices(
                remoting::toCapability(IID_IWbemServices, outcome.object.detach(), origin()));
          }
        });
  }
};

class LocatorProxy final : public remoting::ProxyBase<IWbemLocator>, public detail::ArenaAllocated {
 public:
  explicit LocatorProxy(kj::Own<remoting::RemoteObject> remote)
      : ProxyBase(IID_IWbemLocator, kj::mv(remote)) {}

  HRESULT STDMETHODCALLTYPE ConnectServer(const BSTR resource, const BSTR user, const BSTR password,
                                          const BSTR locale, LONG securityFlags,
                                          const BSTR authority, IWbemContext* callContext,
                                          IWbemServices** nameSpace) override {
    if (nameSpace == nullptr) return WBEM_E_INVALID_PARAMETER;
    *nameSpace = nullptr;
    return runOnLoop([=, this]() -> kj::Promise<HRESULT> {
      auto request = capabilityAs<rpc::Locator>().connectServerRequest();
      if (resource != nullptr) request.setResource(textBytes(resource));
      if (user != nullptr) request.setUser(textBytes(user));
      if (password != nullptr) request.setPassword(textBytes(password));
      if (locale != nullptr) request.setLocale(textBytes(locale));
      request.setSecurityFlags(securityFlags);
      if (authority != nullptr) request.setAuthority(textBytes(authority));
      if (callContext != nullptr) {
        HRESULT status = writeContext(callContext, request.initContext());
        if (FAILED(status)) return status;
      }
      return request.send().then([this, nameSpace](auto answer) -> HRESULT {
        HRESULT status = answer.getStatus();
        if (FAILED(status)) return status;
        if (!answer.hasServices()) return WBEM_E_UNEXPECTED;
        return remoting::toInterface(IID_IWbemServices,
                                     remoting::sameConnection(remote(), answer.getServices()),
                                     reinterpret_cast<void**>(nameSpace));
      });
    });
  }
};

}  // namespace

void registerLocatorMarshaler() {
  remoting::registerInterface(IID_IWbemLocator, remoting::marshalerOf<LocatorStub, LocatorProxy>());
}

}  // namespace velt::wmi::remote
