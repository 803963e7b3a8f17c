#pragma once

namespace velt::remoting {
// Registers the marshalers of IUnknown and IClassFactory (once; any thread).
void registerGenericMarshalers();
}  // namespace velt::remoting
