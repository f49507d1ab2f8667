// Every allocation the exits make goes through these two functions. They are
// the only definitions in alloc.cpp, so a test program can link its own pair
// in their place and make any allocation fail.
#pragma once

#include <cstddef>

namespace velt {

// Returns size bytes of uninitialised memory, or null when none can be had.
void* VeltAlloc(std::size_t size);
// Releases memory from VeltAlloc; accepts null.
void VeltFree(void* memory);

}  // namespace velt
