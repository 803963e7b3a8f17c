// The receiving side of a streamed sink: calls wait here in order as they arrived, and one
// thread at a time reads and makes them on the real sink, never the loop thread.
#pragma once

#include <capnp/common.h>
#include <kj/array.h>
#include <kj/async.h>
#include <wbemcli.h>
#include <winplatform/remoting.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "object_codec.h"
#include "stream_layouts.h"

namespace velt::wmi::remote {

struct IncomingCall {
  bool indication = true;
  kj::Array<capnp::word> encoded;  // Indicate calls as they arrived, read by the drainer
  std::vector<velt::ComPtr<IWbemClassObject>> objects;  // what Indicate hands on
  LONG flags = 0;                                       // what SetStatus hands on
  HRESULT result = S_OK;
  ReceivedText param;
  velt::ComPtr<IWbemClassObject> object;
  size_t bytes = 0;  // as it arrived, for the bound
  // Set for a call whose caller waits for the real sink's answer.
  kj::Own<kj::CrossThreadPromiseFulfiller<HRESULT>> answer;
};

class SinkInbox : public std::enable_shared_from_this<SinkInbox> {
 public:
  // Bytes waiting beyond which the next streamed call is held, so the sender's window fills.
  static constexpr size_t kBound = size_t(1) << 20;

  explicit SinkInbox(remoting::HeldReference sink) : m_sink(std::move(sink)) {}

  // Loop thread: queues `call`; resolves once there is room again. When the real sink failed an
  // earlier call, the call is still made, and the promise fails with that status, which is how
  // the sender learns of it.
  kj::Promise<void> accept(IncomingCall call);
  // Loop thread: queues `call` whatever failed before; resolves with the real sink's answer.
  kj::Promise<HRESULT> acceptAnswered(IncomingCall call);
  // Loop thread: resolves once the first `count` calls were made on the real sink (or no more
  // can come: the stub is gone or the stream failed, and what arrived was made).
  kj::Promise<void> whenHandled(uint64_t count);
  // Loop thread: resolves once every call accepted so far was made.
  kj::Promise<void> whenAllHandled();
  // Loop thread: the stub is gone; what was queued is still made.
  void close();
  // Loop thread, before any call arrives: the calls are made by the thread waiting in
  // `mailbox` while it waits, and by workers once it has gone.
  void serveOn(std::shared_ptr<remoting::CallerMailbox> mailbox);
  // Any thread: whether the first `count` calls were made (or no more can come).
  bool handled(uint64_t count);

 private:
  struct Waiter {
    uint64_t count;
    kj::Own<kj::CrossThreadPromiseFulfiller<void>> fulfiller;
  };

  void queue(IncomingCall call);       // under the lock
  void drain();                        // worker
  HRESULT read(IncomingCall& call);    // the drainer
  bool settles(uint64_t count) const;  // under the lock
  // Under the lock: the waiters to wake now.
  std::vector<kj::Own<kj::CrossThreadPromiseFulfiller<void>>> wakeable();

  remoting::HeldReference m_sink;
  std::shared_ptr<remoting::CallerMailbox> m_mailbox;  // set before the first call
  std::mutex m_mutex;
  std::deque<IncomingCall> m_queue;
  size_t m_bytes = 0;
  uint64_t m_accepted = 0;
  uint64_t m_handled = 0;
  bool m_draining = false;
  bool m_closed = false;
  bool m_rejected = false;  // a streamed call answered a failure: the sender's stream is broken
  HRESULT m_failure = S_OK;
  kj::Own<kj::CrossThreadPromiseFulfiller<void>> m_room;
  std::vector<Waiter> m_handledWaiters;
  ReceivedLayouts m_layouts;  // the drainer: the layouts this stream's indications carried
};

}  // namespace velt::wmi::remote
