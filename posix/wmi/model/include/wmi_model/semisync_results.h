// What synchronous and semisynchronous calls answer with: an enumerator, or a call result, fed
// through an object sink by whoever makes the results, so a service or provider serves those
// calls on top of its asynchronous ones.
#pragma once

#include <wbemcli.h>

namespace velt::wmi {

// An enumerator over what `sink` receives, in order; the sink's final status ends it. With
// WBEM_FLAG_FORWARD_ONLY in `flags` the enumerator keeps nothing it handed out (so it can
// neither be reset nor cloned), and with WBEM_FLAG_RETURN_IMMEDIATELY too, a producer that runs
// ahead of its reader waits for room, so a long enumeration never sits whole in memory.
// Both come with one reference for the caller.
HRESULT createResultEnumerator(LONG flags, IEnumWbemClassObject** enumerator,
                               IWbemObjectSink** sink);

// A call result completed through `sink`: the first object indicated is the result object, the
// final status's text (an instance's path after a write) the result string. `services`, when
// not null, is what GetResultServices answers once the call succeeded.
HRESULT createCallResult(IWbemServices* services, IWbemCallResult** result, IWbemObjectSink** sink);

}  // namespace velt::wmi
