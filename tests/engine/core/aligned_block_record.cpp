// The test program is linked with --wrap for AllocateAligned: the engine's
// calls land here, and the block each one hands out is kept for the tests to
// compare the engine's writes against. Each block is handed out filled with
// a pattern, not with whatever the allocator had (often zeros), so a byte
// the engine writes without having read it shows in the destination. The
// build gives the function's linker name (QUILLMERE_ALLOCATE_ALIGNED), which
// differs by platform.
#include "tests/engine/core/core_engine_test_support.h"

#include <cstring>
#include <mutex>

namespace quillmere_test {
namespace {

std::mutex blockMutex;
AlignedBlock lastBlock;

void Remember(void* start, uint64_t size) {
  std::lock_guard<std::mutex> lock(blockMutex);
  lastBlock = AlignedBlock{static_cast<const uint8_t*>(start), start == nullptr ? 0 : size};
}

}  // namespace

AlignedBlock LastAlignedBlock() {
  std::lock_guard<std::mutex> lock(blockMutex);
  return lastBlock;
}

}  // namespace quillmere_test

// The linker's names for the wrapped function and for this one.
extern "C" void* RealAllocateAligned(uint64_t size, uint64_t alignment)
    __asm__("__real_" QUILLMERE_ALLOCATE_ALIGNED);
extern "C" void* WrapAllocateAligned(uint64_t size, uint64_t alignment)
    __asm__("__wrap_" QUILLMERE_ALLOCATE_ALIGNED);

void* WrapAllocateAligned(uint64_t size, uint64_t alignment) {
  void* block = RealAllocateAligned(size, alignment);
  if (block != nullptr) std::memset(block, 0xA5, size);
  quillmere_test::Remember(block, size);
  return block;
}
