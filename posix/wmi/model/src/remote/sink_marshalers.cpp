// IWbemObjectSink and IWbemProviderInitSink across processes: what a provider answers with.
#include <wbemprov.h>

#include <mutex>
#include <vector>

#include "arguments.h"
#include "call_chunks.h"
#include "object_codec.h"
#include "sink_stream.h"
#include "stream_failure.h"
#include "wmi_remoting.h"

namespace velt::wmi::remote {
namespace {

using remoting::Connection;
using remoting::HeldReference;
using remoting::onWorker;
using remoting::runOnLoop;
using velt::ComPtr;

// What a status call carries, read for the inbox.
template <typename Params>
HRESULT receiveStatus(Params params, IncomingCall& call) {
  call.indication = false;
  call.bytes = params.totalSize().wordCount * sizeof(capnp::word);
  if (params.hasObject()) {
    HRESULT status = readObject(params.getObject(), call.object);
    if (FAILED(status)) return status;
  }
  call.flags = params.getFlags();
  call.result = params.getResult();
  call.param = ReceivedText(params.hasParam(), params.getParam());
  return S_OK;
}

// The sink's calls that must arrive even once its stream failed.
class SinkControlServer final : public rpc::SinkControl::Server {
 public:
  explicit SinkControlServer(std::shared_ptr<SinkInbox> inbox) : m_inbox(std::move(inbox)) {}

 protected:
  kj::Promise<void> flush(FlushContext) override { return m_inbox->whenAllHandled(); }

  kj::Promise<void> setStatus(SetStatusContext context) override {
    IncomingCall call;
    HRESULT status = receiveStatus(context.getParams(), call);
    if (FAILED(status)) {
      context.getResults().setStatus(status);
      return kj::READY_NOW;
    }
    return m_inbox->acceptAnswered(std::move(call)).then([context](HRESULT answer) mutable {
      context.getResults().setStatus(answer);
    });
  }

 private:
  std::shared_ptr<SinkInbox> m_inbox;
  // It holds the sink as the stub does, so it counts as a stub.
  remoting::LiveCounted<remoting::RemoteSide::stub> m_counted;
};

class ObjectSinkStub final : public rpc::ObjectSink::Server, public remoting::UnknownStub {
 public:
  ObjectSinkStub(IUnknown* object, Connection::Anchor origin)
      : UnknownStub(object, kj::mv(origin)), m_inbox(std::make_shared<SinkInbox>(hold())) {}
  ~ObjectSinkStub() { m_inbox->close(); }

  const std::shared_ptr<SinkInbox>& inbox() const { return m_inbox; }

 protected:
  // The calls are read where they are made: the objects are then made, used and released on
  // one thread, and this thread is free for the connection.
  kj::Promise<void> indicate(IndicateContext context) override {
    auto calls = context.getParams().getCalls();
    if (calls.size() % sizeof(capnp::word) != 0) return sinkFailure(WBEM_E_INVALID_OBJECT);
    IncomingCall call;
    call.encoded = copyToChunk(calls);
    call.bytes = calls.size();
    return m_inbox->accept(std::move(call));
  }

  kj::Promise<void> setStatus(SetStatusContext context) override {
    IncomingCall call;
    HRESULT status = receiveStatus(context.getParams(), call);
    if (FAILED(status)) return sinkFailure(status);
    return m_inbox->accept(std::move(call));
  }

  kj::Promise<void> flush(FlushContext) override { return m_inbox->whenAllHandled(); }

  kj::Promise<void> control(ControlContext context) override {
    context.getResults().setControl(kj::heap<SinkControlServer>(m_inbox));
    return kj::READY_NOW;
  }

 private:
  std::shared_ptr<SinkInbox> m_inbox;
};

// Encodes on the provider's thread and queues; the pump streams. A call answers at once, or
// with the failure an earlier one met on the other side.
class ObjectSinkProxy final : public remoting::ProxyBase<IWbemObjectSink>,
                              public detail::ArenaAllocated {
 public:
  // Loop thread.
  explicit ObjectSinkProxy(kj::Own<remoting::RemoteObject> remote)
      : ProxyBase(IID_IWbemObjectSink, kj::mv(remote)),
        m_outbox(std::make_shared<SinkOutbox>()),
        m_control(capabilityAs<rpc::ObjectSink>().controlRequest().send().getControl()) {
    remoting::addLoopTask(SinkOutbox::start(m_outbox, capabilityAs<rpc::ObjectSink>(),
                                            remoting::keepConnection(origin())));
  }
  ~ObjectSinkProxy() override { m_outbox->close(); }

 protected:
  // As when each call was answered before the provider went on: once a provider let go of the
  // sink, what it made on it has been made on the real sink, so what it does next (answer an
  // init sink, say) cannot overtake it. What a call's answer covered, its caller waits for.
  void beforeDrop() override {
    const uint64_t queued = m_outbox->queued();
    if (queued == 0 || queued <= m_outbox->covered() || remoting::onLoopThread()) return;
    runOnLoop([this, queued]() -> kj::Promise<HRESULT> {
      return m_outbox->whenSent(queued)
          .then([this](uint64_t) { return m_control.flushRequest().send(); })
          .then([](auto) -> HRESULT { return S_OK; },
                [](kj::Exception&& failure) { return remoting::statusOf(failure); });
    });
  }
  // The control capability goes on the loop thread, as every capability.
  std::function<void()> loopLeftovers() override {
    auto control = std::make_shared<rpc::SinkControl::Client>(kj::mv(m_control));
    return [control] { *control = nullptr; };
  }

 public:
  const std::shared_ptr<SinkOutbox>& outbox() const { return m_outbox; }

  HRESULT STDMETHODCALLTYPE Indicate(LONG count, IWbemClassObject** objects) override {
    if (count < 0 || (count > 0 && objects == nullptr)) return WBEM_E_INVALID_PARAMETER;
    if (remoting::onLoopThread()) return RPC_E_CANTCALLOUT_ININPUTSYNCCALL;
    CallEncoder encoder;
    auto list = encoder.builder().initRoot<rpc::Indicated>().initObjects(unsigned(count));
    // Numbered and queued as one step, so a layout's definition is streamed before its number.
    std::lock_guard numbering(m_numbering);
    const std::size_t known = m_layouts.count();
    HRESULT status = S_OK;
    for (LONG i = 0; i < count && SUCCEEDED(status); ++i) {
      status = writeObject(objects[i], list[unsigned(i)], &m_layouts);
    }
    if (SUCCEEDED(status)) status = m_outbox->queue(encoder.finish(true));
    // What never went out defined nothing on the other side.
    if (FAILED(status)) m_layouts.forgetAfter(known);
    return status;
  }

  HRESULT STDMETHODCALLTYPE SetStatus(LONG flags, HRESULT result, BSTR param,
                                      IWbemClassObject* object) override {
    if (remoting::onLoopThread()) return RPC_E_CANTCALLOUT_ININPUTSYNCCALL;
    CallEncoder encoder;
    auto out = encoder.builder().initRoot<rpc::ObjectSink::SetStatusParams>();
    out.setFlags(flags);
    out.setResult(result);
    if (param != nullptr) out.setParam(textBytes(param));
    if (object != nullptr) {
      HRESULT status = writeObject(object, out.initObject());
      if (FAILED(status)) return status;
    }
    OutgoingCall call = encoder.finish(false);
    HRESULT queued = m_outbox->queue(kj::mv(call));
    if (SUCCEEDED(queued) || !m_outbox->failedBySink()) return queued;
    capnp::FlatArrayMessageReader reader = readCall(call);
    auto status = reader.getRoot<rpc::ObjectSink::SetStatusParams>();
    // The sink broke the stream with a failure, but a final status still reaches it, as it
    // did when every call was answered: after what was streamed, with the sink's own answer.
    return runOnLoop([this, status]() -> kj::Promise<HRESULT> {
      auto request = m_control.setStatusRequest();
      request.setFlags(status.getFlags());
      request.setResult(status.getResult());
      if (status.hasParam()) request.setParam(status.getParam());
      if (status.hasObject()) request.setObject(status.getObject());
      return request.send().then([](auto answer) -> HRESULT { return answer.getStatus(); });
    });
  }

 private:
  std::shared_ptr<SinkOutbox> m_outbox;
  rpc::SinkControl::Client m_control;  // loop thread only
  std::mutex m_numbering;
  SentLayouts m_layouts;  // guarded by m_numbering
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

SinkArgument sinkArgument(IWbemObjectSink* sink, const Connection::Anchor& origin) {
  sink->AddRef();
  auto stub = kj::heap<ObjectSinkStub>(sink, origin);
  std::shared_ptr<SinkInbox> inbox = stub->inbox();
  return {velt::rpc::Unknown::Client(kj::mv(stub)), kj::mv(inbox)};
}

std::shared_ptr<SinkOutbox> outboxOf(IUnknown* sink) {
  auto* proxy = dynamic_cast<ObjectSinkProxy*>(sink);
  return proxy != nullptr ? proxy->outbox() : nullptr;
}

void registerSinkMarshalers() {
  remoting::registerInterface(IID_IWbemObjectSink,
                              remoting::marshalerOf<ObjectSinkStub, ObjectSinkProxy>());
  remoting::registerInterface(IID_IWbemProviderInitSink,
                              remoting::marshalerOf<InitSinkStub, InitSinkProxy>());
}

}  // namespace velt::wmi::remote
