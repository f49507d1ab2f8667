#include "host/alloc.h"

#include <cstdlib>

namespace velt {

void* VeltAlloc(std::size_t size) { return std::malloc(size); }
void VeltFree(void* memory) { std::free(memory); }

}  // namespace velt
