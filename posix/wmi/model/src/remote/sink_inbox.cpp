#include "sink_inbox.h"

#include <wbemprov.h>

#include "stream_failure.h"

namespace velt::wmi::remote {

void SinkInbox::queue(IncomingCall call) {
  bytes_ += call.bytes;
  ++accepted_;
  queue_.push_back(std::move(call));
  if (!draining_) {
    draining_ = true;
    remoting::callStarted();
    remoting::postWork([self = shared_from_this()] { self->drain(); });
  }
}

kj::Promise<HRESULT> SinkInbox::acceptAnswered(IncomingCall call) {
  auto pair = kj::newPromiseAndCrossThreadFulfiller<HRESULT>();
  call.answer = kj::mv(pair.fulfiller);
  std::lock_guard lock(mutex_);
  queue(std::move(call));
  return kj::mv(pair.promise);
}

kj::Promise<void> SinkInbox::accept(IncomingCall call) {
  std::unique_lock lock(mutex_);
  queue(std::move(call));
  if (FAILED(failure_)) {
    rejected_ = true;
    return sinkFailure(failure_);
  }
  if (bytes_ < kBound) return kj::READY_NOW;
  // The stub gets one streamed call at a time, so no earlier one can still wait for room; if
  // one did, letting it go early only lends the sender a little more window.
  if (room_.get() != nullptr) room_->fulfill();
  auto pair = kj::newPromiseAndCrossThreadFulfiller<void>();
  room_ = kj::mv(pair.fulfiller);
  return kj::mv(pair.promise);
}

kj::Promise<void> SinkInbox::whenHandled(uint64_t count) {
  std::lock_guard lock(mutex_);
  if (settles(count)) return kj::READY_NOW;
  auto pair = kj::newPromiseAndCrossThreadFulfiller<void>();
  handledWaiters_.push_back({count, kj::mv(pair.fulfiller)});
  return kj::mv(pair.promise);
}

kj::Promise<void> SinkInbox::whenAllHandled() {
  uint64_t accepted;
  {
    std::lock_guard lock(mutex_);
    accepted = accepted_;
  }
  return whenHandled(accepted);
}

void SinkInbox::close() {
  std::vector<kj::Own<kj::CrossThreadPromiseFulfiller<void>>> wake;
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
    wake = wakeable();
  }
  for (auto& fulfiller : wake) fulfiller->fulfill();
}

bool SinkInbox::settles(uint64_t count) const {
  return handled_ >= count || ((closed_ || rejected_) && queue_.empty() && !draining_);
}

std::vector<kj::Own<kj::CrossThreadPromiseFulfiller<void>>> SinkInbox::wakeable() {
  std::vector<kj::Own<kj::CrossThreadPromiseFulfiller<void>>> wake;
  if (room_.get() != nullptr && bytes_ < kBound) wake.push_back(kj::mv(room_));
  for (auto it = handledWaiters_.begin(); it != handledWaiters_.end();) {
    if (settles(it->count)) {
      wake.push_back(kj::mv(it->fulfiller));
      it = handledWaiters_.erase(it);
    } else {
      ++it;
    }
  }
  return wake;
}

void SinkInbox::drain() {
  auto* sink = static_cast<IWbemObjectSink*>(sink_.get());
  std::unique_lock lock(mutex_);
  for (;;) {
    IncomingCall call = std::move(queue_.front());
    lock.unlock();
    HRESULT answered;
    if (call.indication) {
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
    queue_.pop_front();
    bytes_ -= bytes;
    ++handled_;
    if (FAILED(answered) && SUCCEEDED(failure_)) failure_ = answered;
    // Only this worker drains; the next one is posted by accept() once this one said it ends.
    bool ends = queue_.empty();
    if (ends) draining_ = false;
    auto wake = wakeable();
    lock.unlock();
    for (auto& fulfiller : wake) fulfiller->fulfill();
    if (ends) break;
    lock.lock();
  }
  remoting::callFinished();
}

}  // namespace velt::wmi::remote
