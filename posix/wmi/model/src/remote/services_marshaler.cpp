// IWbemServices across processes, every method. Each call carries what the caller handed (paths,
// the context, an object by value, a sink as a capability back) and answers the status the real
// object answered, so a provider's declined calls keep their codes. Out objects answer by value;
// out interface pointers as capabilities, when the runtime can carry their interface.
#include <functional>
#include <memory>

#include "arguments.h"
#include "object_codec.h"
#include "sink_stream.h"
#include "wmi_remoting.h"

namespace velt::wmi::remote {
namespace {

using remoting::Connection;
using remoting::HeldReference;
using remoting::onWorker;
using remoting::runOnLoop;
using velt::ComPtr;

// A call as the stub received it, owned, for the worker that makes it.
struct ReceivedCall {
  LONG flags = 0;
  ComPtr<IWbemContext> context;
  ReceivedText path, method, language, query;
  ComPtr<IWbemClassObject> object;
  HeldReference sink;
  bool wantsObject = false;
  bool wantsResult = false;
  bool wantsMade = false;

  IWbemObjectSink* handler() const { return as<IWbemObjectSink>(sink); }
};

// What the real object answered.
struct Outcome {
  HRESULT status = E_UNEXPECTED;
  ComPtr<IWbemClassObject> object;
  HeldReference result;
  HeldReference made;
  uint64_t sinkQueued = 0;  // calls the provider made on the call's sink before it returned
  std::vector<SinkOutbox::Touched> otherSinks;  // every sink the provider's thread called
};

// The out pointers a call fills, as the stub passes them on: only those the caller asked for,
// and a call result only when one could cross.
struct OutPointers {
  IWbemClassObject* object = nullptr;
  IWbemCallResult* result = nullptr;
  IUnknown* made = nullptr;

  static bool resultsCross() { return remoting::interfaceRegistered(IID_IWbemCallResult); }
  IWbemClassObject** objectOut(const ReceivedCall& call) {
    return call.wantsObject ? &object : nullptr;
  }
  IWbemCallResult** resultOut(const ReceivedCall& call) {
    return call.wantsResult && resultsCross() ? &result : nullptr;
  }
  template <typename Interface>
  Interface** interfaceOut(const ReceivedCall& call) {
    return call.wantsMade ? reinterpret_cast<Interface**>(&made) : nullptr;
  }
  Outcome finish(HRESULT status) {
    Outcome outcome;
    outcome.status = status;
    outcome.object = ComPtr<IWbemClassObject>(object);
    outcome.result = HeldReference(result);
    outcome.made = HeldReference(made);
    return outcome;
  }
};

using Invoke = std::function<HRESULT(IWbemServices*, const ReceivedCall&, OutPointers&)>;

class ServicesStub final : public rpc::Services::Server, public remoting::UnknownStub {
 public:
  ServicesStub(IUnknown* object, Connection::Anchor origin) : UnknownStub(object, kj::mv(origin)) {}

 protected:
  kj::Promise<void> openNamespace(OpenNamespaceContext context) override {
    return serve(context, IID_IWbemServices, [](IWbemServices* s, auto& c, OutPointers& o) {
      return s->OpenNamespace(c.path.get(), c.flags, c.context.get(),
                              o.interfaceOut<IWbemServices>(c), o.resultOut(c));
    });
  }
  kj::Promise<void> cancelAsyncCall(CancelAsyncCallContext context) override {
    return serve(context, IID_NULL, [](IWbemServices* s, auto& c, OutPointers&) {
      return s->CancelAsyncCall(c.handler());
    });
  }
  kj::Promise<void> queryObjectSink(QueryObjectSinkContext context) override {
    return serve(context, IID_IWbemObjectSink, [](IWbemServices* s, auto& c, OutPointers& o) {
      return s->QueryObjectSink(c.flags, o.interfaceOut<IWbemObjectSink>(c));
    });
  }
  kj::Promise<void> getObject(GetObjectContext context) override {
    return serve(context, IID_NULL, [](IWbemServices* s, auto& c, OutPointers& o) {
      return s->GetObject(c.path.get(), c.flags, c.context.get(), o.objectOut(c), o.resultOut(c));
    });
  }
  kj::Promise<void> getObjectAsync(GetObjectAsyncContext context) override {
    return serve(context, IID_NULL, [](IWbemServices* s, auto& c, OutPointers&) {
      return s->GetObjectAsync(c.path.get(), c.flags, c.context.get(), c.handler());
    });
  }
  kj::Promise<void> putClass(PutClassContext context) override {
    return serve(context, IID_NULL, [](IWbemServices* s, auto& c, OutPointers& o) {
      return s->PutClass(c.object.get(), c.flags, c.context.get(), o.resultOut(c));
    });
  }
  kj::Promise<void> putClassAsync(PutClassAsyncContext context) override {
    return serve(context, IID_NULL, [](IWbemServices* s, auto& c, OutPointers&) {
      return s->PutClassAsync(c.object.get(), c.flags, c.context.get(), c.handler());
    });
  }
  kj::Promise<void> deleteClass(DeleteClassContext context) override {
    return serve(context, IID_NULL, [](IWbemServices* s, auto& c, OutPointers& o) {
      return s->DeleteClass(c.path.get(), c.flags, c.context.get(), o.resultOut(c));
    });
  }
  kj::Promise<void> deleteClassAsync(DeleteClassAsyncContext context) override {
    return serve(context, IID_NULL, [](IWbemServices* s, auto& c, OutPointers&) {
      return s->DeleteClassAsync(c.path.get(), c.flags, c.context.get(), c.handler());
    });
  }
  kj::Promise<void> createClassEnum(CreateClassEnumContext context) override {
    return serve(context, IID_IEnumWbemClassObject, [](IWbemServices* s, auto& c, OutPointers& o) {
      return s->CreateClassEnum(c.path.get(), c.flags, c.context.get(),
                                o.interfaceOut<IEnumWbemClassObject>(c));
    });
  }
  kj::Promise<void> createClassEnumAsync(CreateClassEnumAsyncContext context) override {
    return serve(context, IID_NULL, [](IWbemServices* s, auto& c, OutPointers&) {
      return s->CreateClassEnumAsync(c.path.get(), c.flags, c.context.get(), c.handler());
    });
  }
  kj::Promise<void> putInstance(PutInstanceContext context) override {
    return serve(context, IID_NULL, [](IWbemServices* s, auto& c, OutPointers& o) {
      return s->PutInstance(c.object.get(), c.flags, c.context.get(), o.resultOut(c));
    });
  }
  kj::Promise<void> putInstanceAsync(PutInstanceAsyncContext context) override {
    return serve(context, IID_NULL, [](IWbemServices* s, auto& c, OutPointers&) {
      return s->PutInstanceAsync(c.object.get(), c.flags, c.context.get(), c.handler());
    });
  }
  kj::Promise<void> deleteInstance(DeleteInstanceContext context) override {
    return serve(context, IID_NULL, [](IWbemServices* s, auto& c, OutPointers& o) {
      return s->DeleteInstance(c.path.get(), c.flags, c.context.get(), o.resultOut(c));
    });
  }
  kj::Promise<void> deleteInstanceAsync(DeleteInstanceAsyncContext context) override {
    return serve(context, IID_NULL, [](IWbemServices* s, auto& c, OutPointers&) {
      return s->DeleteInstanceAsync(c.path.get(), c.flags, c.context.get(), c.handler());
    });
  }
  kj::Promise<void> createInstanceEnum(CreateInstanceEnumContext context) override {
    return serve(context, IID_IEnumWbemClassObject, [](IWbemServices* s, auto& c, OutPointers& o) {
      return s->CreateInstanceEnum(c.path.get(), c.flags, c.context.get(),
                                   o.interfaceOut<IEnumWbemClassObject>(c));
    });
  }
  kj::Promise<void> createInstanceEnumAsync(CreateInstanceEnumAsyncContext context) override {
    return serve(context, IID_NULL, [](IWbemServices* s, auto& c, OutPointers&) {
      return s->CreateInstanceEnumAsync(c.path.get(), c.flags, c.context.get(), c.handler());
    });
  }
  kj::Promise<void> execQuery(ExecQueryContext context) override {
    return serve(context, IID_IEnumWbemClassObject, [](IWbemServices* s, auto& c, OutPointers& o) {
      return s->ExecQuery(c.language.get(), c.query.get(), c.flags, c.context.get(),
                          o.interfaceOut<IEnumWbemClassObject>(c));
    });
  }
  kj::Promise<void> execQueryAsync(ExecQueryAsyncContext context) override {
    return serve(context, IID_NULL, [](IWbemServices* s, auto& c, OutPointers&) {
      return s->ExecQueryAsync(c.language.get(), c.query.get(), c.flags, c.context.get(),
                               c.handler());
    });
  }
  kj::Promise<void> execNotificationQuery(ExecNotificationQueryContext context) override {
    return serve(context, IID_IEnumWbemClassObject, [](IWbemServices* s, auto& c, OutPointers& o) {
      return s->ExecNotificationQuery(c.language.get(), c.query.get(), c.flags, c.context.get(),
                                      o.interfaceOut<IEnumWbemClassObject>(c));
    });
  }
  kj::Promise<void> execNotificationQueryAsync(ExecNotificationQueryAsyncContext context) override {
    return serve(context, IID_NULL, [](IWbemServices* s, auto& c, OutPointers&) {
      return s->ExecNotificationQueryAsync(c.language.get(), c.query.get(), c.flags,
                                           c.context.get(), c.handler());
    });
  }
  kj::Promise<void> execMethod(ExecMethodContext context) override {
    return serve(context, IID_NULL, [](IWbemServices* s, auto& c, OutPointers& o) {
      return s->ExecMethod(c.path.get(), c.method.get(), c.flags, c.context.get(), c.object.get(),
                           o.objectOut(c), o.resultOut(c));
    });
  }
  kj::Promise<void> execMethodAsync(ExecMethodAsyncContext context) override {
    return serve(context, IID_NULL, [](IWbemServices* s, auto& c, OutPointers&) {
      return s->ExecMethodAsync(c.path.get(), c.method.get(), c.flags, c.context.get(),
                                c.object.get(), c.handler());
    });
  }

 private:
  // Loop thread: reads the call, makes it on a worker, answers what the real object answered.
  template <typename Context>
  kj::Promise<void> serve(Context context, REFIID interfaceIid, Invoke invoke) {
    auto call = std::make_shared<ReceivedCall>();
    HRESULT status = receive(context.getParams().getCall(), *call);
    if (FAILED(status)) {
      context.getResults().initAnswer().setStatus(status);
      return kj::READY_NOW;
    }
    IID iid = interfaceIid;
    std::shared_ptr<SinkOutbox> outbox = outboxOf(call->sink.get());
    return onWorker<Outcome>([services = hold(), call, outbox, invoke = std::move(invoke)] {
             OutPointers out;
             SinkOutbox::startTracking();
             HRESULT answered = invoke(as<IWbemServices>(services), *call, out);
             Outcome outcome = out.finish(answered);
             outcome.otherSinks = SinkOutbox::stopTracking();
             if (outbox) {
               outcome.sinkQueued = outbox->queued();
               outbox->cover(outcome.sinkQueued);
             }
             return outcome;
           })
        .then([outbox](Outcome outcome) -> kj::Promise<Outcome> {
          // What the provider made on other sinks meanwhile (events, say) is made before the
          // call returns, as when each of those calls was answered.
          auto others = kj::heapArrayBuilder<kj::Promise<void>>(outcome.otherSinks.size());
          for (auto& touched : outcome.otherSinks) {
            if (touched.outbox != outbox) others.add(touched.outbox->whenMade(touched.queued));
          }
          outcome.otherSinks.clear();
          return kj::joinPromises(others.finish()).then([outcome = std::move(outcome)]() mutable {
            return std::move(outcome);
          });
        })
        .then([outbox](Outcome outcome) -> kj::Promise<std::pair<Outcome, uint64_t>> {
          // The answer follows what the provider streamed to the sink before it returned, so
          // the caller can wait until that was made on its sink.
          if (!outbox || outcome.sinkQueued == 0)
            return std::make_pair(std::move(outcome), uint64_t(0));
          uint64_t queued = outcome.sinkQueued;
          return outbox->whenSent(queued).then(
              [outcome = std::move(outcome)](uint64_t calls) mutable {
                return std::make_pair(std::move(outcome), calls);
              });
        })
        .then([this, context, iid](std::pair<Outcome, uint64_t> done) mutable {
          auto out = context.getResults().initAnswer();
          out.setSinkCalls(done.second);
          answer(out, iid, std::move(done.first));
        });
  }

  HRESULT receive(rpc::Call::Reader in, ReceivedCall& call) const {
    call.flags = in.getFlags();
    if (in.hasContext()) {
      HRESULT status = readContext(in.getContext(), call.context);
      if (FAILED(status)) return status;
    }
    call.path = ReceivedText(in.hasPath(), in.getPath());
    call.method = ReceivedText(in.hasMethod(), in.getMethod());
    call.language = ReceivedText(in.hasLanguage(), in.getLanguage());
    call.query = ReceivedText(in.hasQuery(), in.getQuery());
    if (in.hasObject()) {
      HRESULT status = readObject(in.getObject(), call.object);
      if (FAILED(status)) return status;
    }
    if (in.hasSink()) call.sink = argumentProxy(IID_IWbemObjectSink, received(in.getSink()));
    call.wantsObject = in.getWantsObject();
    call.wantsResult = in.getWantsResult();
    call.wantsMade = in.getWantsMade();
    return S_OK;
  }

  void answer(rpc::Answer::Builder out, REFIID iid, Outcome outcome) const {
    HRESULT status = outcome.status;
    if (SUCCEEDED(status) && outcome.object) {
      HRESULT written = writeObject(outcome.object.get(), out.initObject());
      if (FAILED(written)) status = written;
    }
    if (SUCCEEDED(status) && outcome.made.get() != nullptr) {
      if (remoting::interfaceRegistered(iid)) {
        out.setMade(remoting::toCapability(iid, outcome.made.detach(), origin()));
      } else {
        // The call succeeded, but what it made cannot reach the caller.
        status = E_NOINTERFACE;
      }
    }
    if (SUCCEEDED(status) && outcome.result.get() != nullptr) {
      out.setResult(remoting::toCapability(IID_IWbemCallResult, outcome.result.detach(), origin()));
    }
    out.setStatus(status);
  }
};

// What the caller of a proxy handed over and where the answers go.
struct Sent {
  LONG flags = 0;
  IWbemContext* context = nullptr;
  const OLECHAR* path = nullptr;
  const OLECHAR* method = nullptr;
  const OLECHAR* language = nullptr;
  const OLECHAR* query = nullptr;
  IWbemClassObject* object = nullptr;
  IWbemObjectSink* sink = nullptr;
  IWbemClassObject** objectOut = nullptr;
  IWbemCallResult** resultOut = nullptr;
  void** interfaceOut = nullptr;
  IID interfaceIid = IID_NULL;
};

class ServicesProxy final : public remoting::ProxyBase<IWbemServices>,
                            public detail::ArenaAllocated {
 public:
  explicit ServicesProxy(kj::Own<remoting::RemoteObject> remote)
      : ProxyBase(IID_IWbemServices, kj::mv(remote)) {}

  HRESULT STDMETHODCALLTYPE OpenNamespace(const BSTR nameSpace, LONG flags, IWbemContext* context,
                                          IWbemServices** working,
                                          IWbemCallResult** result) override {
    Sent sent{flags, context, nameSpace};
    sent.interfaceOut = reinterpret_cast<void**>(working);
    sent.interfaceIid = IID_IWbemServices;
    sent.resultOut = result;
    return call(&Services::openNamespaceRequest, sent);
  }
  HRESULT STDMETHODCALLTYPE CancelAsyncCall(IWbemObjectSink* sink) override {
    Sent sent;
    sent.sink = sink;
    return call(&Services::cancelAsyncCallRequest, sent);
  }
  HRESULT STDMETHODCALLTYPE QueryObjectSink(LONG flags, IWbemObjectSink** handler) override {
    Sent sent{flags};
    sent.interfaceOut = reinterpret_cast<void**>(handler);
    sent.interfaceIid = IID_IWbemObjectSink;
    return call(&Services::queryObjectSinkRequest, sent);
  }
  HRESULT STDMETHODCALLTYPE GetObject(const BSTR path, LONG flags, IWbemContext* context,
                                      IWbemClassObject** object,
                                      IWbemCallResult** result) override {
    Sent sent{flags, context, path};
    sent.objectOut = object;
    sent.resultOut = result;
    return call(&Services::getObjectRequest, sent);
  }
  HRESULT STDMETHODCALLTYPE GetObjectAsync(const BSTR path, LONG flags, IWbemContext* context,
                                           IWbemObjectSink* sink) override {
    Sent sent{flags, context, path};
    sent.sink = sink;
    return call(&Services::getObjectAsyncRequest, sent);
  }
  HRESULT STDMETHODCALLTYPE PutClass(IWbemClassObject* object, LONG flags, IWbemContext* context,
                                     IWbemCallResult** result) override {
    Sent sent{flags, context};
    sent.object = object;
    sent.resultOut = result;
    return call(&Services::putClassRequest, sent);
  }
  HRESULT STDMETHODCALLTYPE PutClassAsync(IWbemClassObject* object, LONG flags,
                                          IWbemContext* context, IWbemObjectSink* sink) override {
    Sent sent{flags, context};
    sent.object = object;
    sent.sink = sink;
    return call(&Services::putClassAsyncRequest, sent);
  }
  HRESULT STDMETHODCALLTYPE DeleteClass(const BSTR name, LONG flags, IWbemContext* context,
                                        IWbemCallResult** result) override {
    Sent sent{flags, context, name};
    sent.resultOut = result;
    return call(&Services::deleteClassRequest, sent);
  }
  HRESULT STDMETHODCALLTYPE DeleteClassAsync(const BSTR name, LONG flags, IWbemContext* context,
                                             IWbemObjectSink* sink) override {
    Sent sent{flags, context, name};
    sent.sink = sink;
    return call(&Services::deleteClassAsyncRequest, sent);
  }
  HRESULT STDMETHODCALLTYPE CreateClassEnum(const BSTR superclass, LONG flags,
                                            IWbemContext* context,
                                            IEnumWbemClassObject** enumerator) override {
    Sent sent{flags, context, superclass};
    sent.interfaceOut = reinterpret_cast<void**>(enumerator);
    sent.interfaceIid = IID_IEnumWbemClassObject;
    return call(&Services::createClassEnumRequest, sent);
  }
  HRESULT STDMETHODCALLTYPE CreateClassEnumAsync(const BSTR superclass, LONG flags,
                                                 IWbemContext* context,
                                                 IWbemObjectSink* sink) override {
    Sent sent{flags, context, superclass};
    sent.sink = sink;
    return call(&Services::createClassEnumAsyncRequest, sent);
  }
  HRESULT STDMETHODCALLTYPE PutInstance(IWbemClassObject* instance, LONG flags,
                                        IWbemContext* context, IWbemCallResult** result) override {
    Sent sent{flags, context};
    sent.object = instance;
    sent.resultOut = result;
    return call(&Services::putInstanceRequest, sent);
  }
  HRESULT STDMETHODCALLTYPE PutInstanceAsync(IWbemClassObject* instance, LONG flags,
                                             IWbemContext* context,
                                             IWbemObjectSink* sink) override {
    Sent sent{flags, context};
    sent.object = instance;
    sent.sink = sink;
    return call(&Services::putInstanceAsyncRequest, sent);
  }
  HRESULT STDMETHODCALLTYPE DeleteInstance(const BSTR path, LONG flags, IWbemContext* context,
                                           IWbemCallResult** result) override {
    Sent sent{flags, context, path};
    sent.resultOut = result;
    return call(&Services::deleteInstanceRequest, sent);
  }
  HRESULT STDMETHODCALLTYPE DeleteInstanceAsync(const BSTR path, LONG flags, IWbemContext* context,
                                                IWbemObjectSink* sink) override {
    Sent sent{flags, context, path};
    sent.sink = sink;
    return call(&Services::deleteInstanceAsyncRequest, sent);
  }
  HRESULT STDMETHODCALLTYPE CreateInstanceEnum(const BSTR filter, LONG flags, IWbemContext* context,
                                               IEnumWbemClassObject** enumerator) override {
    Sent sent{flags, context, filter};
    sent.interfaceOut = reinterpret_cast<void**>(enumerator);
    sent.interfaceIid = IID_IEnumWbemClassObject;
    return call(&Services::createInstanceEnumRequest, sent);
  }
  HRESULT STDMETHODCALLTYPE CreateInstanceEnumAsync(const BSTR filter, LONG flags,
                                                    IWbemContext* context,
                                                    IWbemObjectSink* sink) override {
    Sent sent{flags, context, filter};
    sent.sink = sink;
    return call(&Services::createInstanceEnumAsyncRequest, sent);
  }
  HRESULT STDMETHODCALLTYPE ExecQuery(const BSTR language, const BSTR query, LONG flags,
                                      IWbemContext* context,
                                      IEnumWbemClassObject** enumerator) override {
    Sent sent{flags, context};
    sent.language = language;
    sent.query = query;
    sent.interfaceOut = reinterpret_cast<void**>(enumerator);
    sent.interfaceIid = IID_IEnumWbemClassObject;
    return call(&Services::execQueryRequest, sent);
  }
  HRESULT STDMETHODCALLTYPE ExecQueryAsync(const BSTR language, const BSTR query, LONG flags,
                                           IWbemContext* context, IWbemObjectSink* sink) override {
    Sent sent{flags, context};
    sent.language = language;
    sent.query = query;
    sent.sink = sink;
    return call(&Services::execQueryAsyncRequest, sent);
  }
  HRESULT STDMETHODCALLTYPE ExecNotificationQuery(const BSTR language, const BSTR query, LONG flags,
                                                  IWbemContext* context,
                                                  IEnumWbemClassObject** enumerator) override {
    Sent sent{flags, context};
    sent.language = language;
    sent.query = query;
    sent.interfaceOut = reinterpret_cast<void**>(enumerator);
    sent.interfaceIid = IID_IEnumWbemClassObject;
    return call(&Services::execNotificationQueryRequest, sent);
  }
  HRESULT STDMETHODCALLTYPE ExecNotificationQueryAsync(const BSTR language, const BSTR query,
                                                       LONG flags, IWbemContext* context,
                                                       IWbemObjectSink* sink) override {
    Sent sent{flags, context};
    sent.language = language;
    sent.query = query;
    sent.sink = sink;
    return call(&Services::execNotificationQueryAsyncRequest, sent);
  }
  HRESULT STDMETHODCALLTYPE ExecMethod(const BSTR path, const BSTR method, LONG flags,
                                       IWbemContext* context, IWbemClassObject* in,
                                       IWbemClassObject** out, IWbemCallResult** result) override {
    Sent sent{flags, context, path, method};
    sent.object = in;
    sent.objectOut = out;
    sent.resultOut = result;
    return call(&Services::execMethodRequest, sent);
  }
  HRESULT STDMETHODCALLTYPE ExecMethodAsync(const BSTR path, const BSTR method, LONG flags,
                                            IWbemContext* context, IWbemClassObject* in,
                                            IWbemObjectSink* sink) override {
    Sent sent{flags, context, path, method};
    sent.object = in;
    sent.sink = sink;
    return call(&Services::execMethodAsyncRequest, sent);
  }

 private:
  using Services = rpc::Services::Client;

  // What the provider streamed to the call's sink before it answered.
  struct Streamed {
    std::shared_ptr<SinkInbox> inbox;
    uint64_t calls = 0;
  };

  template <typename MakeRequest>
  HRESULT call(MakeRequest make, const Sent& sent) {
    if (sent.objectOut != nullptr) *sent.objectOut = nullptr;
    if (sent.resultOut != nullptr) *sent.resultOut = nullptr;
    if (sent.interfaceOut != nullptr) *sent.interfaceOut = nullptr;
    Streamed streamed;
    if (sent.sink == nullptr) return runOnLoop(start(make, sent, nullptr, streamed));
    // The caller itself makes the provider's calls on its sink while it waits, and returns
    // once what the provider made before answering was made, as when each indication was a
    // call of its own.
    auto mailbox = std::make_shared<remoting::CallerMailbox>();
    return remoting::runOnLoopServing(mailbox, start(make, sent, mailbox, streamed), [&streamed] {
      return !streamed.inbox || streamed.calls == 0 || streamed.inbox->handled(streamed.calls);
    });
  }

  template <typename MakeRequest>
  std::function<kj::Promise<HRESULT>()> start(MakeRequest make, const Sent& sent,
                                              std::shared_ptr<remoting::CallerMailbox> mailbox,
                                              Streamed& streamed) {
    return [this, make, &sent, mailbox, &streamed]() -> kj::Promise<HRESULT> {
      auto services = capabilityAs<rpc::Services>();
      auto request = (services.*make)(nullptr);
      std::shared_ptr<SinkInbox> inbox;
      HRESULT status = fill(request.initCall(), sent, inbox);
      if (FAILED(status)) return status;
      if (inbox && mailbox) inbox->serveOn(mailbox);
      return request.send().then([this, &sent, inbox, &streamed](auto response) -> HRESULT {
        auto answer = response.getAnswer();
        HRESULT status = take(answer, sent);
        streamed.inbox = inbox;
        streamed.calls = answer.getSinkCalls();
        return status;
      });
    };
  }

  // Loop thread.
  HRESULT fill(rpc::Call::Builder out, const Sent& sent, std::shared_ptr<SinkInbox>& inbox) {
    out.setFlags(sent.flags);
    if (sent.context != nullptr) {
      HRESULT status = writeContext(sent.context, out.initContext());
      if (FAILED(status)) return status;
    }
    if (sent.path != nullptr) out.setPath(textBytes(sent.path));
    if (sent.method != nullptr) out.setMethod(textBytes(sent.method));
    if (sent.language != nullptr) out.setLanguage(textBytes(sent.language));
    if (sent.query != nullptr) out.setQuery(textBytes(sent.query));
    if (sent.object != nullptr) {
      HRESULT status = writeObject(sent.object, out.initObject());
      if (FAILED(status)) return status;
    }
    if (sent.sink != nullptr) {
      SinkArgument argument = sinkArgument(sent.sink, origin());
      out.setSink(kj::mv(argument.capability));
      inbox = kj::mv(argument.inbox);
    }
    out.setWantsObject(sent.objectOut != nullptr);
    out.setWantsResult(sent.resultOut != nullptr);
    out.setWantsMade(sent.interfaceOut != nullptr);
    return S_OK;
  }

  // Loop thread.
  HRESULT take(rpc::Answer::Reader answer, const Sent& sent) {
    HRESULT status = answer.getStatus();
    if (sent.objectOut != nullptr && answer.hasObject()) {
      ComPtr<IWbemClassObject> object;
      HRESULT read = readObject(answer.getObject(), object);
      if (FAILED(read)) return read;
      *sent.objectOut = object.detach();
    }
    if (sent.resultOut != nullptr && answer.hasResult()) {
      void* result = nullptr;
      if (SUCCEEDED(remoting::toInterface(IID_IWbemCallResult,
                                          remoting::sameConnection(remote(), answer.getResult()),
                                          &result))) {
        *sent.resultOut = static_cast<IWbemCallResult*>(result);
      }
    }
    if (sent.interfaceOut != nullptr && answer.hasMade()) {
      HRESULT made = remoting::toInterface(sent.interfaceIid,
                                           remoting::sameConnection(remote(), answer.getMade()),
                                           sent.interfaceOut);
      if (FAILED(made)) return made;
    }
    return status;
  }
};

}  // namespace

void registerServicesMarshaler() {
  remoting::registerInterface(IID_IWbemServices,
                              remoting::marshalerOf<ServicesStub, ServicesProxy>());
}

}  // namespace velt::wmi::remote
