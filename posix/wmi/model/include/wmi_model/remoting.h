// POSIX only: the proxies and stubs of the WMI interfaces (IWbemProviderInit,
// IWbemProviderInitSink, IWbemServices, IWbemEventProvider, IWbemObjectSink, IWbemLocator,
// IEnumWbemClassObject, IWbemCallResult),
// registered with the COM runtime per interface identifier as WMI's own marshalling is on
// Windows. Objects and contexts cross by value; sinks and namespaces handed in calls are
// capabilities back.
#pragma once

namespace velt::wmi {

// Registers them once; every process that links this library does so when it starts.
void registerWmiMarshalers();

}  // namespace velt::wmi
