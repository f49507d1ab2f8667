#include "alloc_seam.h"

#include <cstdlib>
#include <cstring>

#include "host/alloc.h"

namespace velt {

namespace {

struct Ledger {
  int calls = 0;
  int fail_at = 0;
  bool fail_all = false;
  int blocks = 0;
  std::size_t bytes = 0;
};
Ledger g_ledger;

// Each block carries its size in front, so that release can count it.
constexpr std::size_t kHeader = alignof(std::max_align_t);

}  // namespace

void* VeltAlloc(std::size_t size) {
  ++g_ledger.calls;
  if (g_ledger.fail_all || g_ledger.calls == g_ledger.fail_at) return nullptr;
  auto* block = static_cast<unsigned char*>(std::malloc(size + kHeader));
  if (block == nullptr) return nullptr;
  std::memcpy(block, &size, sizeof size);
  ++g_ledger.blocks;
  g_ledger.bytes += size;
  return block + kHeader;
}

void VeltFree(void* memory) {
  if (memory == nullptr) return;
  unsigned char* block = static_cast<unsigned char*>(memory) - kHeader;
  std::size_t size = 0;
  std::memcpy(&size, block, sizeof size);
  --g_ledger.blocks;
  g_ledger.bytes -= size;
  std::free(block);
}

namespace test {

void FailAllocation(int n) { g_ledger.fail_at = n > 0 ? g_ledger.calls + n : 0; }
void FailEveryAllocation(bool fail) { g_ledger.fail_all = fail; }
int AllocationCalls() { return g_ledger.calls; }
int OutstandingBlocks() { return g_ledger.blocks; }
std::size_t OutstandingBytes() { return g_ledger.bytes; }
void ResetAllocations() {
  g_ledger.calls = 0;
  g_ledger.fail_at = 0;
  g_ledger.fail_all = false;
}

}  // namespace test
}  // namespace velt
