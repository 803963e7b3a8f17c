// The WMI marshalers, one registration per group of interfaces.
#pragma once

namespace velt::wmi::remote {

void registerSinkMarshalers();
void registerProviderMarshalers();
void registerServicesMarshaler();
void registerLocatorMarshaler();
void registerEnumeratorMarshaler();
void registerCallResultMarshaler();

}  // namespace velt::wmi::remote
