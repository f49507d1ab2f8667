// A failing allocator for the exits linked statically into a test program:
// defining VeltAlloc and VeltFree here keeps the core's own pair out of the
// link, so a test can make any allocation fail and see what is left over.
#pragma once

#include <cstddef>

namespace velt::test {

// Makes the n-th allocation from now fail (1 is the next one); 0 fails none.
void FailAllocation(int n);
// Makes every allocation from now fail, or none.
void FailEveryAllocation(bool fail);
// Allocations asked for since the last ResetAllocations.
int AllocationCalls();
// Blocks handed out and not yet released, and their bytes.
int OutstandingBlocks();
std::size_t OutstandingBytes();
// Forgets the counts and the planned failures (blocks still out stay out).
void ResetAllocations();

}  // namespace velt::test
