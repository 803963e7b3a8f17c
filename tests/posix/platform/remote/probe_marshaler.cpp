#include <initguid.h>  // defines the identifiers of probe.h here

#include "probe.h"

#include <winplatform/remoting.h>

#include <utility>

#include "probe.capnp.h"

namespace {

using velt::remoting::HeldReference;
using velt::remoting::onWorker;
using velt::remoting::runOnLoop;
using velt::test::rpc::RemoteProbe;

IRemoteProbe* probeOf(const HeldReference& held) { return static_cast<IRemoteProbe*>(held.get()); }

class ProbeStub final : public RemoteProbe::Server, public velt::remoting::UnknownStub {
 public:
  ProbeStub(IUnknown* object, velt::remoting::Connection::Anchor origin)
      : UnknownStub(object, kj::mv(origin)) {}

 protected:
  kj::Promise<void> processId(ProcessIdContext context) override {
    return onWorker<std::pair<HRESULT, LONG>>([probe = hold()] {
             LONG pid = 0;
             HRESULT status = probeOf(probe)->ProcessId(&pid);
             return std::make_pair(status, pid);
           })
        .then([context](std::pair<HRESULT, LONG> answer) mutable {
          context.getResults().setStatus(answer.first);
          context.getResults().setPid(answer.second);
        });
  }
  kj::Promise<void> meet(MeetContext context) override {
    LONG parties = context.getParams().getParties();
    return onWorker<HRESULT>([probe = hold(), parties] { return probeOf(probe)->Meet(parties); })
        .then([context](HRESULT status) mutable { context.getResults().setStatus(status); });
  }
};

class ProbeProxy final : public velt::remoting::ProxyBase<IRemoteProbe> {
 public:
  explicit ProbeProxy(kj::Own<velt::remoting::RemoteObject> remote)
      : ProxyBase(IID_IRemoteProbe, kj::mv(remote)) {}

  HRESULT STDMETHODCALLTYPE ProcessId(LONG* pid) override {
    return runOnLoop([this, pid]() -> kj::Promise<HRESULT> {
      return probe().processIdRequest().send().then([pid](auto answer) -> HRESULT {
        *pid = answer.getPid();
        return answer.getStatus();
      });
    });
  }
  HRESULT STDMETHODCALLTYPE Meet(LONG parties) override {
    return runOnLoop([this, parties]() -> kj::Promise<HRESULT> {
      auto request = probe().meetRequest();
      request.setParties(parties);
      return request.send().then([](auto answer) -> HRESULT { return answer.getStatus(); });
    });
  }

 private:
  RemoteProbe::Client probe() { return capabilityAs<RemoteProbe>(); }
};

}  // namespace

void registerRemoteProbeMarshaler() {
  velt::remoting::registerInterface(IID_IRemoteProbe,
                                    velt::remoting::marshalerOf<ProbeStub, ProbeProxy>());
}
