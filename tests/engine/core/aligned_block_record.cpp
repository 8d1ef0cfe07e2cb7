// The test program is linked with --wrap for AllocateAligned on the POSIX
// stand-in: the engine's calls land here, and the block each one hands out
// is kept for the tests to compare the engine's writes against.
#include "tests/engine/core/core_engine_test_support.h"

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

extern "C" {

void* __real__ZN9quillmere15AllocateAlignedEmm(uint64_t size, uint64_t alignment);
void* __wrap__ZN9quillmere15AllocateAlignedEmm(uint64_t size, uint64_t alignment) {
  void* block = __real__ZN9quillmere15AllocateAlignedEmm(size, alignment);
  quillmere_test::Remember(block, size);
  return block;
}

}  // extern "C"
