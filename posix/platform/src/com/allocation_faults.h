// Allocation failures on demand for tests (VeltFailNextOleAllocations): the COM task allocator
// and OLE Automation's BSTRs and SAFEARRAYs ask here before they allocate.
#pragma once

namespace velt::platform {

// True when the allocation about to be made is to fail as though memory had run out; each
// true answer uses up one of the failures asked for.
bool allocationRefused();

}  // namespace velt::platform
