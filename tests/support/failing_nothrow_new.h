// Allocation failure on demand for the code that allocates with new (std::nothrow) and checks
// for null. A test executable that compiles failing_nothrow_new.cpp replaces the non-throwing
// global operator new and new[]; nothing fails until a test arms it.
#pragma once

namespace velt::test {

// The next `count` non-throwing allocations of this process answer null.
void failNextNothrowAllocations(int count);

// How many armed failures are still to come.
int nothrowFailuresPending();

}  // namespace velt::test
