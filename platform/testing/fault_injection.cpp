// The file half of the fault-injection seam, the same on both platforms.
// Arming stores a range of call numbers; every ReadFile and WriteFile counts
// itself and looks at the range only while one is armed.
#include "platform/testing/fault_injection.h"

#include "platform/testing/fault_state.h"
#include "platform/testing/hook.h"

#include <atomic>
#include <utility>

namespace fault_injection {

namespace {

// Calls numbered first .. first+count-1, counted from the call after the one
// numbered base, are hit; value is the code or the limit. Each range keeps
// its own base, so arming one fault does not move another.
struct CallRange {
  std::atomic<bool> armed{false};
  std::atomic<unsigned> base{0};
  std::atomic<unsigned> first{0};
  std::atomic<unsigned> count{0};
  std::atomic<DWORD> value{0};

  void Arm(unsigned callsSoFar, unsigned firstCall, unsigned callCount, DWORD armedValue) {
    base.store(callsSoFar, std::memory_order_relaxed);
    first.store(firstCall, std::memory_order_relaxed);
    count.store(callCount, std::memory_order_relaxed);
    value.store(armedValue, std::memory_order_relaxed);
    armed.store(callCount != 0, std::memory_order_release);
  }
  void Disarm() { armed.store(false, std::memory_order_release); }
  bool Hits(unsigned call, DWORD& hitValue) const {
    if (!armed.load(std::memory_order_acquire)) return false;
    unsigned number = call - base.load(std::memory_order_relaxed);
    unsigned start = first.load(std::memory_order_relaxed);
    if (number < start || number - start >= count.load(std::memory_order_relaxed)) return false;
    hitValue = value.load(std::memory_order_relaxed);
    return true;
  }
};

// Calls since the program started; the public counters report them from a
// base that arming and resetting move.
std::atomic<unsigned> readCalls{0};
std::atomic<unsigned> writeCalls{0};
std::atomic<unsigned> readBase{0};
std::atomic<unsigned> writeBase{0};
CallRange failedReads;
CallRange failedWrites;
CallRange shortenedWrites;

detail::Hook<const std::string&, DWORD> openHook;
detail::Hook<const void*, DWORD> writeHook;

}  // namespace

void FailReads(unsigned first, unsigned count, DWORD code) {
  readBase.store(readCalls.load());
  failedReads.Arm(readBase.load(), first, count, code);
}

void FailWrites(unsigned first, unsigned count, DWORD code) {
  writeBase.store(writeCalls.load());
  failedWrites.Arm(writeBase.load(), first, count, code);
}

void ShortenWrites(unsigned first, unsigned count, DWORD maxBytes) {
  writeBase.store(writeCalls.load());
  shortenedWrites.Arm(writeBase.load(), first, count, maxBytes);
}

void SetOpenHook(std::function<void(const std::string& path, DWORD access)> hook) {
  openHook.Set(std::move(hook));
}

void SetWriteHook(std::function<void(const void* data, DWORD length)> hook) {
  writeHook.Set(std::move(hook));
}

unsigned ReadCalls() { return readCalls.load() - readBase.load(); }
unsigned WriteCalls() { return writeCalls.load() - writeBase.load(); }

void ResetFileFaults() {
  failedReads.Disarm();
  failedWrites.Disarm();
  shortenedWrites.Disarm();
  readBase.store(readCalls.load());
  writeBase.store(writeCalls.load());
#if QUILLMERE_POSIX_STANDIN
  RefuseLocks(0);
  RefuseDirectIo(false);
  UsePlainMountIds(false);
  SetRefusedCreationHook(nullptr);
#endif
  SetOpenHook(nullptr);
  SetWriteHook(nullptr);
}

namespace detail {

bool TakeReadFault(DWORD& code) {
  unsigned call = readCalls.fetch_add(1, std::memory_order_relaxed) + 1;
  return failedReads.Hits(call, code);
}

WriteFault TakeWriteFault(DWORD& value) {
  unsigned call = writeCalls.fetch_add(1, std::memory_order_relaxed) + 1;
  if (failedWrites.Hits(call, value)) return WriteFault::kFail;
  if (shortenedWrites.Hits(call, value)) return WriteFault::kShorten;
  return WriteFault::kNone;
}

void RunOpenHook(const std::string& path, DWORD access) { openHook.Run(path, access); }

void RunWriteHook(const void* data, DWORD length) { writeHook.Run(data, length); }

}  // namespace detail

}  // namespace fault_injection
