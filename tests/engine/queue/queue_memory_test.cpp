// A run that memory runs out for ends by the exception, and says so first:
// one log line against the item it stopped, which counts as skipped. This
// program replaces the global operator new to make an allocation fail.
#include "tests/engine/queue/run_fixture.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

// The size of the allocation that fails, 0 for none; with failEverything
// every allocation from that one on fails too, until disarmed.
std::atomic<size_t> failingSize{0};
std::atomic<bool> failEverything{false};
std::atomic<bool> failing{false};

// What the allocations after the first failing one throw, so that a test
// can tell which exception ended the run.
struct LaterAllocationFailure : std::bad_alloc {};

void* Allocate(size_t size) {
  if (failing.load()) throw LaterAllocationFailure();
  if (failingSize.load() != 0 && size == failingSize.load()) {
    if (failEverything.load()) failing = true;
    throw std::bad_alloc();
  }
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

void Disarm() {
  failingSize = 0;
  failing = false;
  failEverything = false;
}

}  // namespace

// AddressSanitizer keeps its own operator new for some of the program's
// allocations while these deletes free with the C library, which it would
// call a mismatch; the blocks are plain malloc blocks either way.
extern "C" const char* __asan_default_options() { return "alloc_dealloc_mismatch=0"; }

void* operator new(size_t size) { return Allocate(size); }
void* operator new[](size_t size) { return Allocate(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, size_t) noexcept { std::free(block); }
void operator delete[](void* block, size_t) noexcept { std::free(block); }

namespace queue_test {
namespace {

// The buffer of a copy's re-read, taken from the heap with new[].
constexpr size_t kVerifyBufferSize = 1024 * 1024;

class QueueMemory : public RunTest {
 protected:
  void TearDown() override {
    Disarm();
    RunTest::TearDown();
  }

  // Runs a queue of two files with the re-read's buffer refused; true when
  // the run ended by that allocation's bad_alloc.
  bool RunOutOfMemoryAtTheFirstReRead(quillmere::QueueManager& queue) {
    MakeFile(source / "a", 3000, 1);
    MakeFile(source / "b", 2000, 2);
    queue.AddItem(File(source / "a", destination / "a", 3000));
    queue.AddItem(File(source / "b", destination / "b", 2000));
    failingSize = kVerifyBufferSize;
    bool ended = false;
    try {
      queue.Run();
    } catch (const LaterAllocationFailure&) {
    } catch (const std::bad_alloc&) {
      ended = true;
    }
    Disarm();
    return ended;
  }
};

TEST_F(QueueMemory, ExceptionThatEndsTheRunIsLoggedAgainstItsItem) {
  auto queue = MakeQueue();

  EXPECT_TRUE(RunOutOfMemoryAtTheFirstReRead(*queue));

  ExpectRunCounters(queue->GetStats(), 0, 1, 3000);
  EXPECT_EQ(queue->GetStatuses(),
            (std::vector<ItemStatus>{ItemStatus::Skipped, ItemStatus::Pending}));
  EXPECT_EQ(queue->GetFailureCount(), 1u);
  const std::vector<LogLine> log = Log();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].stage, "VERIFY");
  EXPECT_EQ(log[0].code, 8);
  EXPECT_EQ(log[0].file, quillmere::PathToUtf8(source / "a"));
  EXPECT_EQ(log[0].message, std::bad_alloc().what());
  EXPECT_FALSE(fs::exists(destination / "b"));
}

// With no memory left for the log line either, the first exception still
// ends the run (and nothing terminates the program).
TEST_F(QueueMemory, ExceptionEndsTheRunEvenWhenItsLogLineCannotBeMade) {
  auto queue = MakeQueue();
  failEverything = true;

  EXPECT_TRUE(RunOutOfMemoryAtTheFirstReRead(*queue));

  EXPECT_TRUE(Log().empty());
}

}  // namespace
}  // namespace queue_test
