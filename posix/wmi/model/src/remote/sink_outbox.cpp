#include "sink_outbox.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include <wbemcli.h>
#include <winplatform/remoting.h>

#include "call_chunks.h"
#include "stream_failure.h"

namespace velt::wmi::remote {
namespace {

// While a provider streams (a batch went less than kStreamingWithin ago), the pump waits up to
// kGatherFor for a batch to fill before it sends a smaller one. Each streamed call costs both
// processes a few system calls and thread wake-ups; sent as soon as something is queued, the
// calls of a fast provider carry a few dozen objects each, and a batch filled in less time
// than the wait sends at once. A status, a caller waiting for what was queued, or the end of
// the stream sends at once; so does a call that follows a quiet spell, such as most events.
constexpr kj::Duration kStreamingWithin = 200 * kj::MICROSECONDS;
constexpr kj::Duration kGatherFor = 1 * kj::MILLISECONDS;

using SetStatusParams = rpc::ObjectSink::SetStatusParams;

// The batch's calls as they were encoded, one after another.
kj::Promise<void> sendIndications(rpc::ObjectSink::Client& sink, CallQueue& taken, size_t calls,
                                  size_t bytes) {
  // Sized so the request is one segment: a reader follows a pointer into any later segment
  // under a lock.
  auto request = sink.indicateRequest(capnp::MessageSize{bytes / sizeof(capnp::word) + 64, 0});
  kj::byte* at = request.initCalls(unsigned(bytes)).begin();
  for (size_t i = 0; i < calls; ++i) {
    const OutgoingCall& call = taken.at(i);
    std::memcpy(at, call.words.begin(), call.bytes);
    at += call.bytes;
  }
  return request.send();
}

kj::Promise<void> sendStatus(rpc::ObjectSink::Client& sink, const OutgoingCall& call) {
  auto request = sink.setStatusRequest(capnp::MessageSize{call.words.size() + 64, 0});
  capnp::FlatArrayMessageReader reader = readCall(call);
  auto status = reader.getRoot<SetStatusParams>();
  request.setFlags(status.getFlags());
  request.setResult(status.getResult());
  if (status.hasParam()) request.setParam(status.getParam());
  if (status.hasObject()) request.setObject(status.getObject());
  return request.send();
}

// The thread's scratch space for encoding: zeroed, as the builder needs it, and zeroed again by
// the builder where it wrote. Large enough for a call carrying a class layout.
constexpr size_t kScratchWords = 2048;
struct Scratch {
  std::unique_ptr<capnp::word[]> words;
  bool busy = false;
};
thread_local Scratch scratch;

struct Tracking {
  bool on = false;
  std::vector<std::weak_ptr<SinkOutbox>> outboxes;
};
thread_local Tracking tracking;

}  // namespace

CallEncoder::CallEncoder() {
  if (scratch.busy) {  // an encoder of the same thread is still open: take no chances
    m_builder.emplace();
    return;
  }
  if (!scratch.words) scratch.words.reset(new capnp::word[kScratchWords]());
  scratch.busy = m_scratch = true;
  m_builder.emplace(kj::arrayPtr(scratch.words.get(), kScratchWords),
                    capnp::AllocationStrategy::GROW_HEURISTICALLY);
}

CallEncoder::~CallEncoder() {
  m_builder.reset();  // zeroes what it wrote of the scratch space
  if (m_scratch) scratch.busy = false;
}

OutgoingCall CallEncoder::finish(bool indication) {
  OutgoingCall call;
  call.indication = indication;
  call.words = copyToChunk(*m_builder);
  call.bytes = call.words.size() * sizeof(capnp::word);
  return call;
}

capnp::FlatArrayMessageReader readCall(const OutgoingCall& call) {
  // Built here from objects already checked; depth is bounded by the encoder, not the reader.
  capnp::ReaderOptions options;
  options.traversalLimitInWords = kj::maxValue;
  options.nestingLimit = kj::maxValue;
  return capnp::FlatArrayMessageReader(call.words.asPtr(), options);
}

void CallQueue::drop(size_t count) {
  for (size_t end = m_head + count; m_head < end;) m_calls[m_head++] = OutgoingCall();
  if (m_head == m_calls.size()) clear();
}

void CallQueue::clear() {
  m_calls.clear();  // keeps the storage
  m_head = 0;
}

void CallQueue::swap(CallQueue& other) {
  m_calls.swap(other.m_calls);
  std::swap(m_head, other.m_head);
}

void SinkOutbox::startTracking() {
  tracking.on = true;
  tracking.outboxes.clear();
}

std::vector<SinkOutbox::Touched> SinkOutbox::stopTracking() {
  std::vector<Touched> touched;
  for (auto& weak : tracking.outboxes) {
    if (auto outbox = weak.lock()) touched.push_back({outbox, outbox->queued()});
  }
  tracking.on = false;
  tracking.outboxes.clear();
  return touched;
}

kj::Promise<void> SinkOutbox::whenMade(uint64_t count) {
  auto self = shared_from_this();
  return whenSent(count).then([self](uint64_t) -> kj::Promise<void> {
    KJ_IF_MAYBE (sink, self->m_sink) {
      return sink->flushRequest().send().ignoreResult().catch_([](kj::Exception&&) {});
    }
    return kj::READY_NOW;
  });
}

HRESULT SinkOutbox::queue(OutgoingCall&& call) {
  kj::Own<kj::CrossThreadPromiseFulfiller<void>> wake;
  {
    std::unique_lock lock(m_mutex);
    m_room.wait(lock, [this] { return FAILED(m_failure) || m_bytes < kBound; });
    if (FAILED(m_failure)) return m_failure;
    m_bytes += call.bytes;
    if (!call.indication) ++m_statusesQueued;
    const bool wakes = !call.indication || m_bytes >= m_wakeAtBytes;
    m_queue.push_back(kj::mv(call));
    ++m_queued;
    if (wakes) wake = kj::mv(m_wake);
  }
  if (wake.get() != nullptr) wake->fulfill();
  if (tracking.on) {
    bool known = false;
    for (auto& weak : tracking.outboxes) known = known || weak.lock().get() == this;
    if (!known) tracking.outboxes.push_back(weak_from_this());
  }
  return WBEM_S_NO_ERROR;
}

uint64_t SinkOutbox::queued() const {
  std::lock_guard lock(m_mutex);
  return m_queued;
}

void SinkOutbox::cover(uint64_t count) {
  std::lock_guard lock(m_mutex);
  m_covered = std::max(m_covered, count);
}

uint64_t SinkOutbox::covered() const {
  std::lock_guard lock(m_mutex);
  return m_covered;
}

void SinkOutbox::close() {
  kj::Own<kj::CrossThreadPromiseFulfiller<void>> wake;
  {
    std::lock_guard lock(m_mutex);
    m_closed = true;
    wake = kj::mv(m_wake);
  }
  if (wake.get() != nullptr) wake->fulfill();
}

kj::Promise<uint64_t> SinkOutbox::whenSent(uint64_t count) {
  kj::Own<kj::CrossThreadPromiseFulfiller<void>> gathering;
  kj::Promise<uint64_t> sent = nullptr;
  {
    std::lock_guard lock(m_mutex);
    if (m_settled >= count) return m_callsSent;
    auto pair = kj::newPromiseAndFulfiller<uint64_t>();
    m_sentWaiters.push_back({count, kj::mv(pair.fulfiller)});
    sent = kj::mv(pair.promise);
    // Somebody waits: what was queued goes now.
    if (m_wakeAtBytes > 0) gathering = kj::mv(m_wake);
  }
  if (gathering.get() != nullptr) gathering->fulfill();
  return sent;
}

size_t SinkOutbox::nextBatch(size_t& bytes) {
  const bool indications = m_taken.at(0).indication;
  size_t calls = 0;
  bytes = 0;
  for (; calls < m_taken.size(); ++calls) {
    const OutgoingCall& next = m_taken.at(calls);
    if (calls > 0 && (!indications || !next.indication || bytes + next.bytes > kBatchBytes)) break;
    bytes += next.bytes;
  }
  if (!indications) --m_takenStatuses;
  return calls;
}

void SinkOutbox::sent(size_t calls, size_t bytes) {
  bool room;
  {
    std::lock_guard lock(m_mutex);
    m_settled += calls;
    m_bytes -= bytes;
    ++m_callsSent;
    // A provider that waits for room is woken once half the outbox is free, not for every
    // batch that goes: each wake-up is a thread switch, and it would fill one batch and wait.
    room = m_bytes <= kBound / 2;
  }
  if (room) m_room.notify_all();
  settleWaiters();
}

bool SinkOutbox::failedBySink() const {
  std::lock_guard lock(m_mutex);
  return m_failedBySink;
}

void SinkOutbox::failed(HRESULT status, bool bySink) {
  {
    std::lock_guard lock(m_mutex);
    if (SUCCEEDED(m_failure)) {
      m_failure = status;
      m_failedBySink = bySink;
    }
    m_settled += m_queue.size() + m_taken.size();
    m_queue.clear();
    m_taken.clear();
    m_bytes = 0;
  }
  m_room.notify_all();
  settleWaiters();
}

void SinkOutbox::settleWaiters() {
  std::vector<SentWaiter> ready;
  uint64_t calls = 0;
  {
    std::lock_guard lock(m_mutex);
    calls = m_callsSent;
    for (auto it = m_sentWaiters.begin(); it != m_sentWaiters.end();) {
      if (m_settled >= it->count || FAILED(m_failure)) {
        ready.push_back(kj::mv(*it));
        it = m_sentWaiters.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& waiter : ready) waiter.fulfiller->fulfill(kj::cp(calls));
}

kj::Promise<void> SinkOutbox::start(std::shared_ptr<SinkOutbox> outbox,
                                    rpc::ObjectSink::Client sink,
                                    kj::Own<remoting::Connection> keep) {
  outbox->m_sink = sink;
  return pump(outbox, kj::mv(sink), kj::mv(keep)).attach(kj::defer([outbox] {
    outbox->m_sink = nullptr;
  }));
}

bool SinkOutbox::shouldGather() {
  if (m_gathered || m_closed || (m_queue.empty() && m_taken.empty()) || m_bytes >= kBatchBytes ||
      m_statusesQueued + m_takenStatuses > 0 || !m_sentWaiters.empty()) {
    return false;
  }
  KJ_IF_MAYBE (last, m_lastSent) {
    return remoting::loopTimer().now() - *last < kStreamingWithin;
  }
  return false;
}

kj::Promise<void> SinkOutbox::pump(std::shared_ptr<SinkOutbox> outbox, rpc::ObjectSink::Client sink,
                                   kj::Own<remoting::Connection> keep) {
  {
    std::lock_guard lock(outbox->m_mutex);
    if (FAILED(outbox->m_failure)) return kj::READY_NOW;
    if (outbox->shouldGather()) {
      // Armed under the lock that queue() takes, so no call slips in unseen.
      auto pair = kj::newPromiseAndCrossThreadFulfiller<void>();
      outbox->m_wake = kj::mv(pair.fulfiller);
      outbox->m_wakeAtBytes = kBatchBytes;
      return pair.promise.exclusiveJoin(remoting::loopTimer().afterDelay(kGatherFor))
          .then([outbox, sink = kj::mv(sink), keep = kj::mv(keep)]() mutable {
            {
              std::lock_guard lock(outbox->m_mutex);
              outbox->m_wake = nullptr;
              outbox->m_wakeAtBytes = 0;
              outbox->m_gathered = true;
            }
            return pump(kj::mv(outbox), kj::mv(sink), kj::mv(keep));
          });
    }
    outbox->m_gathered = false;
    if (outbox->m_taken.empty()) {
      // All that was queued, in one move: the batch is made outside the lock, which the
      // provider meanwhile takes for every call it queues.
      outbox->m_taken.swap(outbox->m_queue);
      outbox->m_takenStatuses = std::exchange(outbox->m_statusesQueued, 0);
    }
    if (outbox->m_taken.empty()) {
      if (outbox->m_closed) return kj::READY_NOW;
      // Armed under the lock that queue() takes, so no call slips in unseen.
      auto pair = kj::newPromiseAndCrossThreadFulfiller<void>();
      outbox->m_wake = kj::mv(pair.fulfiller);
      return pair.promise.then([outbox, sink = kj::mv(sink), keep = kj::mv(keep)]() mutable {
        return pump(kj::mv(outbox), kj::mv(sink), kj::mv(keep));
      });
    }
  }
  size_t bytes = 0;
  const size_t calls = outbox->nextBatch(bytes);
  outbox->m_lastSent = remoting::loopTimer().now();
  kj::Promise<void> flowing = outbox->m_taken.at(0).indication
                                  ? sendIndications(sink, outbox->m_taken, calls, bytes)
                                  : sendStatus(sink, outbox->m_taken.at(0));
  outbox->m_taken.drop(calls);  // the request holds its own copy
  outbox->sent(calls, bytes);
  return flowing.then(
      [outbox, sink = kj::mv(sink), keep = kj::mv(keep)]() mutable {
        return pump(kj::mv(outbox), kj::mv(sink), kj::mv(keep));
      },
      [outbox](kj::Exception&& failure) {
        HRESULT status = statusOfSinkFailure(failure);
        outbox->failed(status, status != remoting::statusOf(failure));
      });
}

}  // namespace velt::wmi::remote
