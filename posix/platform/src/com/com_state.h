// Shared between the pieces of the COM runtime.
#pragma once

#include <objbase.h>

namespace velt::platform::com {

// Whether the calling thread may use COM: it joined an apartment itself, or the process has
// a multithreaded apartment, which threads that never joined one belong to implicitly.
bool callingThreadInCom();

// Forgets that the process set its COM security. A local server started in-process stands for
// a process of its own, which sets its security once for itself.
void startProcessSecurityAnew();

// Whether a class object for `clsid` usable in `context` is registered now.
bool classRegistered(REFCLSID clsid, DWORD context);

// Starts the registered local-server entry (if it is not running) and waits until `clsid`
// is registered. S_OK when it is; CO_E_SERVER_EXEC_FAILURE when the entry ended first or
// the wait ran out; REGDB_E_CLASSNOTREG when there is no entry to start.
HRESULT activateLocalServer(REFCLSID clsid, DWORD context);

// Whether a local-server entry runs in-process for activations (the test seam); without one,
// activations start the registered executable as a process of its own.
bool inProcessLocalServer();
// How long an activation waits for a started server to register its class.
DWORD localServerStartTimeout();

// Told by the class table after each registration.
void classTableChanged();

// The registered class object for `clsid` usable in `context`, with a new reference for the
// caller, or null.
IUnknown* takeClassObject(REFCLSID clsid, DWORD context);

}  // namespace velt::platform::com
