// The server side of local-server activation: class objects published on endpoints.
#pragma once

#include <objbase.h>

namespace velt::remoting {

// Whether this process was started by COM for a local server ("-Embedding" or "/Embedding"),
// or serves its classes as though it were (VeltServeLocalServerClasses).
bool startedForEmbedding();

// Serves the registered class `clsid` on its endpoint until withdrawn. S_OK, or the failure
// that kept it from being reachable.
HRESULT publishClass(REFCLSID clsid, DWORD cookie);
// Stops accepting connections for the registration `cookie`; connections made stay served.
void withdrawClass(DWORD cookie);

}  // namespace velt::remoting
