// The proxy side of the calls that wait in the other process (an enumerator's Next and Skip, a
// call result's questions): the request carries the caller's timeout, which the stub keeps, and
// the caller's thread waits for the answer as for any call across the boundary.
#pragma once

#include <wbemcli.h>

#include <winplatform/remoting.h>

namespace velt::wmi::remote {

// Sends the request `makeRequest` builds, with `timeout` set, and answers what `read` (called on
// the loop thread with the answer) makes of it.
template <typename MakeRequest, typename Read>
HRESULT sendWithTimeout(LONG timeout, MakeRequest makeRequest, Read read) {
  return remoting::runOnLoop([timeout, makeRequest, read]() -> kj::Promise<HRESULT> {
    auto request = makeRequest();
    request.setTimeout(timeout);
    return request.send().then(read);
  });
}

}  // namespace velt::wmi::remote
