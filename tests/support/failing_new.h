// Allocation failure at a chosen point, for exception-safety sweeps. A test executable that
// compiles failing_new.cpp replaces every non-aligned form of the global operator new and
// delete; nothing fails until a test arms it.
#pragma once

namespace velt::test {

// The allocation `index` places from now (0: the next one) fails, once; -1 disarms.
void failAllocation(long index);

// Whether the armed failure has not come yet.
bool allocationFailurePending();

}  // namespace velt::test
