// IWbemCallResult across processes: each question waits in the other process for the call's
// end or the timeout; the result object crosses by value, the namespace as a capability.
#include <owners/unique_handle.h>

#include "arguments.h"
#include "caller_gone.h"
#include "object_codec.h"
#include "timed_request.h"
#include "wmi_remoting.h"

namespace velt::wmi::remote {
namespace {

using remoting::Connection;
using remoting::HeldReference;
using remoting::InterfaceOutcome;
using remoting::onWorker;
using velt::ComPtr;

struct ObjectOutcome {
  HRESULT status = E_UNEXPECTED;
  ComPtr<IWbemClassObject> object;
};

struct TextOutcome {
  HRESULT status = E_UNEXPECTED;
  velt::UniqueBstr text;
};

class CallResultStub final : public rpc::CallResult::Server, public remoting::UnknownStub {
 public:
  CallResultStub(IUnknown* object, Connection::Anchor origin)
      : UnknownStub(object, kj::mv(origin)) {}

 protected:
  kj::Promise<void> getResultObject(GetResultObjectContext context) override {
    const LONG timeout = context.getParams().getTimeout();
    CallerGone gone = watchCaller(context);
    return endingWith(onWorker<ObjectOutcome>([r = hold(), timeout, gone] {
                        ObjectOutcome outcome;
                        IWbemClassObject* object = nullptr;
                        outcome.status = waitWhileWanted(timeout, gone, [&](LONG ms) {
                          return as<IWbemCallResult>(r)->GetResultObject(ms, &object);
                        });
                        outcome.object = ComPtr<IWbemClassObject>(object);
                        return outcome;
                      }).then([context](ObjectOutcome outcome) mutable {
      auto results = context.getResults();
      HRESULT status = outcome.status;
      if (SUCCEEDED(status) && outcome.object) {
        HRESULT written = writeObject(outcome.object.get(), results.initObject());
        if (FAILED(written)) status = written;
      }
      results.setStatus(status);
    }),
                      gone);
  }

  kj::Promise<void> getResultString(GetResultStringContext context) override {
    const LONG timeout = context.getParams().getTimeout();
    CallerGone gone = watchCaller(context);
    return endingWith(onWorker<TextOutcome>([r = hold(), timeout, gone] {
                        TextOutcome outcome;
                        BSTR text = nullptr;
                        outcome.status = waitWhileWanted(timeout, gone, [&](LONG ms) {
                          return as<IWbemCallResult>(r)->GetResultString(ms, &text);
                        });
                        outcome.text.reset(text);
                        return outcome;
                      }).then([context](TextOutcome outcome) mutable {
      auto results = context.getResults();
      results.setStatus(outcome.status);
      if (SUCCEEDED(outcome.status) && outcome.text) {
        results.setText(textBytes(outcome.text.get()));
      }
    }),
                      gone);
  }

  kj::Promise<void> getResultServices(GetResultServicesContext context) override {
    const LONG timeout = context.getParams().getTimeout();
    CallerGone gone = watchCaller(context);
    return endingWith(onWorker<InterfaceOutcome>([r = hold(), timeout, gone] {
                        IWbemServices* services = nullptr;
                        HRESULT status = waitWhileWanted(timeout, gone, [&](LONG ms) {
                          return as<IWbemCallResult>(r)->GetResultServices(ms, &services);
                        });
                        if (FAILED(status) && services != nullptr) {
                          services->Release();
                          services = nullptr;
                        }
                        return InterfaceOutcome{status, HeldReference(services)};
                      }).then([this, context](InterfaceOutcome outcome) mutable {
      auto results = context.getResults();
      results.setStatus(outcome.status);
      if (SUCCEEDED(outcome.status) && outcome.object.get() != nullptr) {
        results.setServices(
            remoting::toCapability(IID_IWbemServices, outcome.object.detach(), origin()));
      }
    }),
                      gone);
  }

  kj::Promise<void> getCallStatus(GetCallStatusContext context) override {
    const LONG timeout = context.getParams().getTimeout();
    struct Status {
      HRESULT status = E_UNEXPECTED;
      LONG callStatus = 0;
    };
    CallerGone gone = watchCaller(context);
    return endingWith(onWorker<Status>([r = hold(), timeout, gone] {
                        Status s;
                        s.status = waitWhileWanted(timeout, gone, [&](LONG ms) {
                          return as<IWbemCallResult>(r)->GetCallStatus(ms, &s.callStatus);
                        });
                        return s;
                      }).then([context](Status s) mutable {
      auto results = context.getResults();
      results.setStatus(s.status);
      results.setCallStatus(s.callStatus);
    }),
                      gone);
  }
};

class CallResultProxy final : public remoting::ProxyBase<IWbemCallResult>,
                              public detail::ArenaAllocated {
 public:
  explicit CallResultProxy(kj::Own<remoting::RemoteObject> remote)
      : ProxyBase(IID_IWbemCallResult, kj::mv(remote)) {}

  HRESULT STDMETHODCALLTYPE GetResultObject(LONG timeout, IWbemClassObject** out) override {
    if (out == nullptr) return WBEM_E_INVALID_PARAMETER;
    *out = nullptr;
    return sendWithTimeout(
        timeout, [this] { return results().getResultObjectRequest(); },
        [out](auto answer) -> HRESULT {
          HRESULT status = answer.getStatus();
          if (FAILED(status) || !answer.hasObject()) return status;
          ComPtr<IWbemClassObject> object;
          HRESULT read = readObject(answer.getObject(), object);
          if (FAILED(read)) return read;
          *out = object.detach();
          return status;
        });
  }

  HRESULT STDMETHODCALLTYPE GetResultString(LONG timeout, BSTR* out) override {
    if (out == nullptr) return WBEM_E_INVALID_PARAMETER;
    *out = nullptr;
    return sendWithTimeout(
        timeout, [this] { return results().getResultStringRequest(); },
        [out](auto answer) -> HRESULT {
          HRESULT status = answer.getStatus();
          if (FAILED(status) || !answer.hasText()) return status;
          *out = ReceivedText(true, answer.getText()).release();
          return *out != nullptr ? status : WBEM_E_OUT_OF_MEMORY;
        });
  }

  HRESULT STDMETHODCALLTYPE GetResultServices(LONG timeout, IWbemServices** out) override {
    if (out == nullptr) return WBEM_E_INVALID_PARAMETER;
    *out = nullptr;
    return sendWithTimeout(
        timeout, [this] { return results().getResultServicesRequest(); },
        [this, out](auto answer) -> HRESULT {
          HRESULT status = answer.getStatus();
          if (FAILED(status) || !answer.hasServices()) return status;
          HRESULT made = remoting::toInterface(
              IID_IWbemServices, remoting::sameConnection(remote(), answer.getServices()),
              reinterpret_cast<void**>(out));
          return FAILED(made) ? made : status;
        });
  }

  HRESULT STDMETHODCALLTYPE GetCallStatus(LONG timeout, LONG* callStatus) override {
    if (callStatus == nullptr) return WBEM_E_INVALID_PARAMETER;
    return sendWithTimeout(
        timeout, [this] { return results().getCallStatusRequest(); },
        [callStatus](auto answer) -> HRESULT {
          HRESULT status = answer.getStatus();
          if (SUCCEEDED(status) && status != WBEM_S_TIMEDOUT) *callStatus = answer.getCallStatus();
          return status;
        });
  }

 private:
  rpc::CallResult::Client results() { return capabilityAs<rpc::CallResult>(); }
};

}  // namespace

void registerCallResultMarshaler() {
  remoting::registerInterface(
      IID_IWbemCallResult,
      {[](IUnknown* object, Connection::Anchor origin) -> velt::rpc::Unknown::Client {
         return kj::heap<CallResultStub>(object, kj::mv(origin));
       },
       [](kj::Own<remoting::RemoteObject> remote) -> IUnknown* {
         return new CallResultProxy(kj::mv(remote));
       }});
}

}  // namespace velt::wmi::remote
