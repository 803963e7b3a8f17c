// What every process that holds the stand-in's WMI objects may ask of them.
#pragma once

#include <wbemcli.h>

namespace velt::wmi {

// How many COM objects of the stand-in (class objects, instances, qualifier sets, sinks,
// contexts, namespaces, init sinks) are alive.
long liveObjectCount();

// An empty IWbemContext.
HRESULT createContext(IWbemContext** out);

}  // namespace velt::wmi
