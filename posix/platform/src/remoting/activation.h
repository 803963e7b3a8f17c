// The client side of local-server activation: reach the class's server, starting it first
// when none runs.
#pragma once

#include <objbase.h>

namespace velt::remoting {

// The class object of `clsid` from its local server, as interface `iid`. REGDB_E_CLASSNOTREG
// when the class has no LocalServer32 command; CO_E_SERVER_EXEC_FAILURE when the server could
// not be started or did not register the class in time.
HRESULT remoteClassObject(REFCLSID clsid, REFIID iid, void** out);

// The process left COM: closes the connections no proxy uses any more, so the objects this
// process lent to servers (a namespace handed to a provider, a sink) are released before it
// ends, as leaving the last apartment does on Windows.
void closeIdleConnections();

}  // namespace velt::remoting
