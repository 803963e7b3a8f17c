#include "sink_inbox.h"

#include <capnp/serialize.h>
#include <wbemprov.h>

#include "stream_failure.h"

namespace velt::wmi::remote {

void SinkInbox::queue(IncomingCall call) {
  m_bytes += call.bytes;
  ++m_accepted;
  m_queue.push_back(std::move(call));
  if (!m_draining) {
    m_draining = true;
    remoting::callStarted();
    auto drain = [self = shared_from_this()] { self->drain(); };
    if (m_mailbox) {
      m_mailbox->post(std::move(drain));
    } else {
      remoting::postWork(std::move(drain));
    }
  }
}

void SinkInbox::serveOn(std::shared_ptr<remoting::CallerMailbox> mailbox) {
  m_mailbox = std::move(mailbox);
}

bool SinkInbox::handled(uint64_t count) {
  std::lock_guard lock(m_mutex);
  return settles(count);
}

kj::Promise<HRESULT> SinkInbox::acceptAnswered(IncomingCall call) {
  auto pair = kj::newPromiseAndCrossThreadFulfiller<HRESULT>();
  call.answer = kj::mv(pair.fulfiller);
  std::lock_guard lock(m_mutex);
  queue(std::move(call));
  return kj::mv(pair.promise);
}

kj::Promise<void> SinkInbox::accept(IncomingCall call) {
  std::unique_lock lock(m_mutex);
  queue(std::move(call));
  if (FAILED(m_failure)) {
    m_rejected = true;
    return sinkFailure(m_failure);
  }
  if (m_bytes < kBound) return kj::READY_NOW;
  // The stub gets one streamed call at a time, so no earlier one can still wait for room; if
  // one did, letting it go early only lends the sender a little more window.
  if (m_room.get() != nullptr) m_room->fulfill();
  auto pair = kj::newPromiseAndCrossThreadFulfiller<void>();
  m_room = kj::mv(pair.fulfiller);
  return kj::mv(pair.promise);
}

kj::Promise<void> SinkInbox::whenHandled(uint64_t count) {
  std::lock_guard lock(m_mutex);
  if (settles(count)) return kj::READY_NOW;
  auto pair = kj::newPromiseAndCrossThreadFulfiller<void>();
  m_handledWaiters.push_back({count, kj::mv(pair.fulfiller)});
  return kj::mv(pair.promise);
}

kj::Promise<void> SinkInbox::whenAllHandled() {
  uint64_t accepted;
  {
    std::lock_guard lock(m_mutex);
    accepted = m_accepted;
  }
  return whenHandled(accepted);
}

void SinkInbox::close() {
  std::vector<kj::Own<kj::CrossThreadPromiseFulfiller<void>>> wake;
  {
    std::lock_guard lock(m_mutex);
    m_closed = true;
    wake = wakeable();
  }
  for (auto& fulfiller : wake) fulfiller->fulfill();
  if (m_mailbox) m_mailbox->kick();
}

bool SinkInbox::settles(uint64_t count) const {
  return m_handled >= count || ((m_closed || m_rejected) && m_queue.empty() && !m_draining);
}

std::vector<kj::Own<kj::CrossThreadPromiseFulfiller<void>>> SinkInbox::wakeable() {
  std::vector<kj::Own<kj::CrossThreadPromiseFulfiller<void>>> wake;
  // The held call goes on once half the inbox is free, not as soon as one call was made: each
  // release lets one more call in and wakes the loop thread for it.
  if (m_room.get() != nullptr && m_bytes <= kBound / 2) wake.push_back(kj::mv(m_room));
  for (auto it = m_handledWaiters.begin(); it != m_handledWaiters.end();) {
    if (settles(it->count)) {
      wake.push_back(kj::mv(it->fulfiller));
      it = m_handledWaiters.erase(it);
    } else {
      ++it;
    }
  }
  return wake;
}

HRESULT SinkInbox::read(IncomingCall& call) {
  if (call.encoded.size() == 0) return S_OK;
  HRESULT status = S_OK;
  KJ_IF_MAYBE (failure, kj::runCatchingExceptions([&] {
                 kj::ArrayPtr<const capnp::word> rest = call.encoded;
                 while (SUCCEEDED(status) && rest.size() > 0) {
                   capnp::FlatArrayMessageReader reader(rest);
                   for (auto in : reader.getRoot<rpc::Indicated>().getObjects()) {
                     ComPtr<IWbemClassObject> object;
                     status = readObject(in, object, &m_layouts);
                     if (FAILED(status)) break;
                     call.objects.push_back(std::move(object));
                   }
                   rest = kj::arrayPtr(reader.getEnd(), rest.end());
                 }
               })) {
    (void)failure;
    status = WBEM_E_INVALID_OBJECT;  // not a message: the sender is broken
  }
  call.encoded = nullptr;
  if (FAILED(status)) call.objects.clear();
  return status;
}

void SinkInbox::drain() {
  auto* sink = static_cast<IWbemObjectSink*>(m_sink.get());
  std::unique_lock lock(m_mutex);
  for (;;) {
    IncomingCall call = std::move(m_queue.front());
    lock.unlock();
    HRESULT answered = read(call);
    if (FAILED(answered)) {
      // Nothing of a call that cannot be read is made; the sender learns as of a sink's failure.
    } else if (call.indication) {
      std::vector<IWbemClassObject*> raw;
      raw.reserve(call.objects.size());
      for (const auto& object : call.objects) raw.push_back(object.get());
      answered = sink->Indicate(LONG(raw.size()), raw.data());
    } else {
      answered = sink->SetStatus(call.flags, call.result, call.param.get(), call.object.get());
    }
    if (call.answer.get() != nullptr) call.answer->fulfill(kj::cp(answered));
    size_t bytes = call.bytes;
    call = IncomingCall();
    lock.lock();
    m_queue.pop_front();
    m_bytes -= bytes;
    ++m_handled;
    if (FAILED(answered) && SUCCEEDED(m_failure)) m_failure = answered;
    // Only this worker drains; the next one is posted by accept() once this one said it ends.
    bool ends = m_queue.empty();
    if (ends) m_draining = false;
    auto wake = wakeable();
    lock.unlock();
    for (auto& fulfiller : wake) fulfiller->fulfill();
    if (ends) {
      if (m_mailbox) m_mailbox->kick();
      break;
    }
    if (m_mailbox) {
      // The caller looks whether it has what it waits for before the next call, so a provider
      // that streams on after answering cannot keep it here.
      m_mailbox->post([self = shared_from_this()] { self->drain(); });
      return;
    }
    lock.lock();
  }
  remoting::callFinished();
}

}  // namespace velt::wmi::remote
