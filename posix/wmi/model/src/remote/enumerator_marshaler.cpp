// IEnumWbemClassObject across processes: each Next is one round trip carrying its batch of
// objects by value; the timeouts are kept by the real enumerator in the other process.
#include <algorithm>
#include <vector>

#include "arguments.h"
#include "caller_gone.h"
#include "object_codec.h"
#include "sink_stream.h"
#include "timed_request.h"
#include "wmi_remoting.h"

namespace velt::wmi::remote {
namespace {

using remoting::Connection;
using remoting::HeldReference;
using remoting::InterfaceOutcome;
using remoting::onWorker;
using remoting::runOnLoop;
using velt::ComPtr;

// The most objects one round trip asks for: a larger Next goes in several, and a stub refuses
// more, so no peer makes the other side set aside room for an absurd count.
constexpr ULONG kMaxBatch = 65536;

struct Batch {
  HRESULT status = E_UNEXPECTED;
  std::vector<ComPtr<IWbemClassObject>> objects;
};

// Skip with a wait that ends when its caller goes. A Skip in pieces could not tell how far a
// piece that timed out went, so a long one reads the objects and lets them go.
HRESULT skipWhileWanted(IEnumWbemClassObject* enumerator, LONG timeout, ULONG count,
                        const CallerGone& gone) {
  if (timeout != LONG(WBEM_INFINITE) && timeout <= kWaitSliceMs) {
    return enumerator->Skip(timeout, count);
  }
  constexpr ULONG kPiece = 4096;
  ULONG left = count;
  return waitWhileWanted(timeout, gone, [&](LONG ms) {
    for (;;) {
      std::vector<IWbemClassObject*> objects(std::min(left, kPiece), nullptr);
      ULONG got = 0;
      HRESULT status =
          enumerator->Next(ms, static_cast<ULONG>(objects.size()), objects.data(), &got);
      got = std::min(got, static_cast<ULONG>(objects.size()));
      for (ULONG i = 0; i < got; ++i) objects[i]->Release();
      left -= got;
      if (status != WBEM_S_NO_ERROR || left == 0) return status;
    }
  });
}

class EnumeratorStub final : public rpc::Enumerator::Server, public remoting::UnknownStub {
 public:
  EnumeratorStub(IUnknown* object, Connection::Anchor origin)
      : UnknownStub(object, kj::mv(origin)) {}

 protected:
  kj::Promise<void> reset(ResetContext context) override {
    return onWorker<HRESULT>([e = hold()] { return as<IEnumWbemClassObject>(e)->Reset(); })
        .then([context](HRESULT status) mutable { context.getResults().setStatus(status); });
  }

  kj::Promise<void> next(NextContext context) override {
    const LONG timeout = context.getParams().getTimeout();
    const ULONG count = context.getParams().getCount();
    if (count > kMaxBatch) {
      context.getResults().setStatus(WBEM_E_INVALID_PARAMETER);
      return kj::READY_NOW;
    }
    CallerGone gone = watchCaller(context);
    return endingWith(onWorker<Batch>([e = hold(), timeout, count, gone] {
                        Batch batch;
                        std::vector<IWbemClassObject*> objects(count, nullptr);
                        ULONG returned = 0;
                        batch.status = waitWhileWanted(timeout, gone, [&](LONG ms) {
                          ULONG got = 0;
                          HRESULT status = as<IEnumWbemClassObject>(e)->Next(
                              ms, count - returned, objects.data() + returned, &got);
                          returned += std::min(got, count - returned);
                          return status;
                        });
                        for (ULONG i = 0; i < returned; ++i) batch.objects.emplace_back(objects[i]);
                        return batch;
                      }).then([context](Batch batch) mutable {
      auto results = context.getResults();
      HRESULT status = batch.status;
      auto out = results.initObjects(static_cast<unsigned>(batch.objects.size()));
      SentLayouts layouts;
      for (unsigned i = 0; i < batch.objects.size() && SUCCEEDED(status); ++i) {
        HRESULT written = writeObject(batch.objects[i].get(), out[i], &layouts);
        if (FAILED(written)) status = written;
      }
      results.setStatus(status);
    }),
                      gone);
  }

  kj::Promise<void> nextAsync(NextAsyncContext context) override {
    const ULONG count = context.getParams().getCount();
    HeldReference sink;
    if (context.getParams().hasSink()) {
      sink = argumentProxy(IID_IWbemObjectSink, received(context.getParams().getSink()));
    }
    return onWorker<HRESULT>([e = hold(), count, sink = std::move(sink)] {
             return as<IEnumWbemClassObject>(e)->NextAsync(count, as<IWbemObjectSink>(sink));
           })
        .then([context](HRESULT status) mutable { context.getResults().setStatus(status); });
  }

  kj::Promise<void> clone(CloneContext context) override {
    return onWorker<InterfaceOutcome>([e = hold()] {
             IEnumWbemClassObject* copy = nullptr;
             HRESULT status = as<IEnumWbemClassObject>(e)->Clone(&copy);
             if (FAILED(status) && copy != nullptr) {
               copy->Release();
               copy = nullptr;
             }
             return InterfaceOutcome{status, HeldReference(copy)};
           })
        .then([this, context](InterfaceOutcome outcome) mutable {
          auto results = context.getResults();
          results.setStatus(outcome.status);
          if (SUCCEEDED(outcome.status) && outcome.object.get() != nullptr) {
            results.setEnumerator(remoting::toCapability(IID_IEnumWbemClassObject,
                                                         outcome.object.detach(), origin()));
          }
        });
  }

  kj::Promise<void> skip(SkipContext context) override {
    const LONG timeout = context.getParams().getTimeout();
    const ULONG count = context.getParams().getCount();
    CallerGone gone = watchCaller(context);
    return endingWith(
        onWorker<HRESULT>([e = hold(), timeout, count, gone] {
          return skipWhileWanted(as<IEnumWbemClassObject>(e), timeout, count, gone);
        }).then([context](HRESULT status) mutable { context.getResults().setStatus(status); }),
        gone);
  }
};

class EnumeratorProxy final : public remoting::ProxyBase<IEnumWbemClassObject>,
                              public detail::ArenaAllocated {
 public:
  explicit EnumeratorProxy(kj::Own<remoting::RemoteObject> remote)
      : ProxyBase(IID_IEnumWbemClassObject, kj::mv(remote)) {}

  HRESULT STDMETHODCALLTYPE Reset() override {
    return runOnLoop([this]() -> kj::Promise<HRESULT> {
      return capabilityAs<rpc::Enumerator>().resetRequest().send().then(
          [](auto answer) -> HRESULT { return answer.getStatus(); });
    });
  }

  HRESULT STDMETHODCALLTYPE Next(LONG timeout, ULONG count, IWbemClassObject** objects,
                                 ULONG* returned) override {
    if (objects == nullptr || returned == nullptr) return WBEM_E_INVALID_PARAMETER;
    *returned = 0;
    // One round trip for any count a caller asks in practice; a count beyond a batch goes on
    // while every batch came whole.
    HRESULT status = WBEM_S_NO_ERROR;
    do {
      const ULONG wanted = std::min(count - *returned, kMaxBatch);
      ULONG got = 0;
      status = nextBatch(timeout, wanted, objects + *returned, got);
      *returned += got;
      if (status != WBEM_S_NO_ERROR || got < wanted) break;
    } while (*returned < count);
    return status;
  }

  HRESULT STDMETHODCALLTYPE NextAsync(ULONG count, IWbemObjectSink* sink) override {
    if (sink == nullptr) return WBEM_E_INVALID_PARAMETER;
    return runOnLoop([this, count, sink]() -> kj::Promise<HRESULT> {
      auto request = capabilityAs<rpc::Enumerator>().nextAsyncRequest();
      request.setCount(count);
      // The objects stream to the sink as a provider's do; nobody waits for them here.
      SinkArgument argument = sinkArgument(sink, origin());
      request.setSink(kj::mv(argument.capability));
      return request.send().then([](auto answer) -> HRESULT { return answer.getStatus(); });
    });
  }

  HRESULT STDMETHODCALLTYPE Clone(IEnumWbemClassObject** out) override {
    if (out == nullptr) return WBEM_E_INVALID_PARAMETER;
    *out = nullptr;
    return runOnLoop([this, out]() -> kj::Promise<HRESULT> {
      return capabilityAs<rpc::Enumerator>().cloneRequest().send().then(
          [this, out](auto answer) -> HRESULT {
            HRESULT status = answer.getStatus();
            if (FAILED(status)) return status;
            if (!answer.hasEnumerator()) return WBEM_E_UNEXPECTED;
            HRESULT made =
                remoting::toInterface(IID_IEnumWbemClassObject,
                                      remoting::sameConnection(remote(), answer.getEnumerator()),
                                      reinterpret_cast<void**>(out));
            return FAILED(made) ? made : status;
          });
    });
  }

  HRESULT STDMETHODCALLTYPE Skip(LONG timeout, ULONG count) override {
    return sendWithTimeout(
        timeout,
        [this, count] {
          auto request = capabilityAs<rpc::Enumerator>().skipRequest();
          request.setCount(count);
          return request;
        },
        [](auto answer) -> HRESULT { return answer.getStatus(); });
  }

 private:
  HRESULT nextBatch(LONG timeout, ULONG count, IWbemClassObject** objects, ULONG& returned) {
    std::vector<ComPtr<IWbemClassObject>> received;
    HRESULT status = sendWithTimeout(
        timeout,
        [this, count] {
          auto request = capabilityAs<rpc::Enumerator>().nextRequest();
          request.setCount(count);
          return request;
        },
        [count, &received](auto answer) -> HRESULT {
          auto in = answer.getObjects();
          if (in.size() > count) return WBEM_E_UNEXPECTED;
          ReceivedLayouts layouts;
          for (auto object : in) {
            ComPtr<IWbemClassObject> copy;
            HRESULT read = readObject(object, copy, &layouts);
            if (FAILED(read)) return read;
            received.push_back(std::move(copy));
          }
          return answer.getStatus();
        });
    // A batch that did not arrive whole hands out nothing: its objects are released here.
    if (FAILED(status)) received.clear();
    returned = static_cast<ULONG>(received.size());
    for (ULONG i = 0; i < returned; ++i) objects[i] = received[i].detach();
    return status;
  }
};

}  // namespace

void registerEnumeratorMarshaler() {
  remoting::registerInterface(
      IID_IEnumWbemClassObject,
      {[](IUnknown* object, Connection::Anchor origin) -> velt::rpc::Unknown::Client {
         return kj::heap<EnumeratorStub>(object, kj::mv(origin));
       },
       [](kj::Own<remoting::RemoteObject> remote) -> IUnknown* {
         return new EnumeratorProxy(kj::mv(remote));
       }});
}

}  // namespace velt::wmi::remote
