// What the calls that hand a sink need of its stream: the caller waits until what the provider
// indicated before returning was made on the real sink, as when every indication was a call
// of its own.
#pragma once

#include <wbemcli.h>
#include <winplatform/remoting.h>

#include <memory>

#include "sink_inbox.h"
#include "sink_outbox.h"

namespace velt::wmi::remote {

struct SinkArgument {
  velt::rpc::Unknown::Client capability;
  std::shared_ptr<SinkInbox> inbox;
};

// Loop thread, caller side: the capability for `sink` handed in a call (a new reference goes
// to its stub), and the inbox where the provider's calls on it wait.
SinkArgument sinkArgument(IWbemObjectSink* sink, const remoting::Connection::Anchor& origin);

// The outbox of a sink proxy; null for a sink of this process.
std::shared_ptr<SinkOutbox> outboxOf(IUnknown* sink);

}  // namespace velt::wmi::remote
