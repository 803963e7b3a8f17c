// The sending side of a streamed sink: what a provider indicates is encoded at once on its own
// thread, queued here, and streamed out in order by one pump on the loop thread.
#pragma once

#include <capnp/message.h>
#include <capnp/serialize.h>
#include <kj/async.h>
#include <kj/time.h>
#include <velt/wmi.capnp.h>
#include <winplatform/remoting.h>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace velt::wmi::remote {

// One call to stream: its own message (rpc::Indicated or rpc::ObjectSink::SetStatusParams),
// so the provider may change or release its objects once the call returned. Held flat, in its
// encoding thread's chunk (see call_chunks.h), at its own size.
struct OutgoingCall {
  bool indication = true;
  kj::Array<capnp::word> words;
  size_t bytes = 0;
};

// A reader of the call, made where it is read: a reader made with the call would be one more
// allocation on the provider's thread for the loop thread to free.
capnp::FlatArrayMessageReader readCall(const OutgoingCall& call);

// Where the calling thread encodes a call: in scratch space of its own, reused from one call
// to the next, so that a small call neither allocates nor clears a whole first segment.
class CallEncoder {
 public:
  CallEncoder();
  CallEncoder(const CallEncoder&) = delete;
  CallEncoder& operator=(const CallEncoder&) = delete;
  ~CallEncoder();

  capnp::MessageBuilder& builder() { return *m_builder; }
  // The call as encoded so far, copied out at its own size.
  OutgoingCall finish(bool indication);

 private:
  bool m_scratch = false;  // this encoder uses the thread's scratch space
  std::optional<capnp::MallocMessageBuilder> m_builder;
};

// Calls waiting in order. Its storage stays from one batch to the next: a queue that freed a
// block every few calls would have the loop thread free them into the provider thread's heap,
// taking that heap's lock against the provider.
class CallQueue {
 public:
  bool empty() const { return m_head == m_calls.size(); }
  size_t size() const { return m_calls.size() - m_head; }
  const OutgoingCall& at(size_t i) const { return m_calls[m_head + i]; }
  void push_back(OutgoingCall&& call) { m_calls.push_back(kj::mv(call)); }
  // Releases the first `count` calls.
  void drop(size_t count);
  void clear();
  void swap(CallQueue& other);

 private:
  std::vector<OutgoingCall> m_calls;
  size_t m_head = 0;
};

class SinkOutbox : public std::enable_shared_from_this<SinkOutbox> {
 public:
  // Bytes queued beyond which a sender waits for room; one call larger than that still goes.
  static constexpr size_t kBound = size_t(1) << 20;

  // Any thread but the loop thread: queues `call`, waiting while the outbox is full. Answers
  // WBEM_S_NO_ERROR, or the failure an earlier call met (then `call` is left as it was).
  HRESULT queue(OutgoingCall&& call);
  // Whether the stream failed because the real sink answered a failure (the connection still
  // stands).
  bool failedBySink() const;
  // The number of calls queued so far.
  uint64_t queued() const;
  // The first `count` queued calls are covered by the answer of the call that handed the sink
  // over: its caller returns only once they were made on the real sink. Any thread.
  void cover(uint64_t count);
  uint64_t covered() const;
  // No more calls will come: the pump ends once it has sent what is queued. Any thread.
  void close();

  // Loop thread: resolves with the number of streamed calls sent once the first `count` queued
  // calls have been sent (or could not be: a failed stream sends nothing more).
  kj::Promise<uint64_t> whenSent(uint64_t count);
  // Loop thread: resolves once the first `count` queued calls were made on the real sink (or
  // the stream failed, which the provider learns from its next call).
  kj::Promise<void> whenMade(uint64_t count);

  // The outboxes the calling thread queued into since `startTracking`, with how many calls
  // each held then: a call's answer follows what its provider sent on any sink meanwhile, as
  // COM keeps one thread's calls in order.
  struct Touched {
    std::shared_ptr<SinkOutbox> outbox;
    uint64_t queued;
  };
  static void startTracking();
  static std::vector<Touched> stopTracking();

  // Loop thread: streams the queue over `sink` until closed and empty, or failed. Holds what
  // it is given (the capability, and through `keep` the connection), so what was queued still
  // goes out after the proxy itself is gone.
  static kj::Promise<void> start(std::shared_ptr<SinkOutbox> outbox, rpc::ObjectSink::Client sink,
                                 kj::Own<remoting::Connection> keep);

 private:
  struct SentWaiter {
    uint64_t count;
    kj::Own<kj::PromiseFulfiller<uint64_t>> fulfiller;
  };

  // Loop thread: how many of the calls taken go in the next streamed call (consecutive
  // indications batch into one, up to kBatchBytes), and their `bytes`.
  size_t nextBatch(size_t& bytes);
  void sent(size_t calls, size_t bytes);
  void failed(HRESULT status, bool bySink);
  void settleWaiters();  // loop thread
  bool shouldGather();   // under the lock, loop thread
  static kj::Promise<void> pump(std::shared_ptr<SinkOutbox> outbox, rpc::ObjectSink::Client sink,
                                kj::Own<remoting::Connection> keep);

  mutable std::mutex m_mutex;
  std::condition_variable m_room;
  CallQueue m_queue;
  CallQueue m_taken;           // loop thread: taken from the queue, not sent yet
  size_t m_takenStatuses = 0;  // loop thread: calls taken that are not indications
  size_t m_bytes = 0;
  uint64_t m_queued = 0;
  uint64_t m_covered = 0;
  uint64_t m_settled = 0;  // queued calls sent, or dropped by a failure
  uint64_t m_callsSent = 0;
  HRESULT m_failure = S_OK;
  bool m_failedBySink = false;
  bool m_closed = false;
  kj::Own<kj::CrossThreadPromiseFulfiller<void>> m_wake;  // set while the pump waits for work
  size_t m_wakeAtBytes = 0;     // while gathering: the bytes queued that wake the pump
  size_t m_statusesQueued = 0;  // queued calls that are not indications
  // Loop thread: when the last batch went; and whether the pump gathered before this turn.
  kj::Maybe<kj::TimePoint> m_lastSent;
  bool m_gathered = false;
  std::vector<SentWaiter> m_sentWaiters;      // loop thread only
  kj::Maybe<rpc::ObjectSink::Client> m_sink;  // loop thread, while the pump runs
};

}  // namespace velt::wmi::remote
