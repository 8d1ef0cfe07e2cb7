// The file half of the fault-injection seam (the hash half lives with the
// hashing calls). Arming stores a range of call numbers; every ReadFile and
// WriteFile counts itself and looks at the range only while one is armed.
#include "platform/posix/fault_injection.h"

#include "platform/posix/fault_state.h"
#include "platform/posix/file_object.h"

#include <atomic>
#include <mutex>
#include <utility>

namespace fault_injection {

namespace {

// Calls numbered first .. first+count-1 are hit; value is the code or limit.
struct CallRange {
  std::atomic<bool> armed{false};
  std::atomic<unsigned> first{0};
  std::atomic<unsigned> count{0};
  std::atomic<DWORD> value{0};

  void Arm(unsigned firstCall, unsigned callCount, DWORD armedValue) {
    first.store(firstCall, std::memory_order_relaxed);
    count.store(callCount, std::memory_order_relaxed);
    value.store(armedValue, std::memory_order_relaxed);
    armed.store(callCount != 0, std::memory_order_release);
  }
  void Disarm() { armed.store(false, std::memory_order_release); }
  bool Hits(unsigned call, DWORD& hitValue) const {
    if (!armed.load(std::memory_order_acquire)) return false;
    unsigned start = first.load(std::memory_order_relaxed);
    if (call < start || call - start >= count.load(std::memory_order_relaxed)) return false;
    hitValue = value.load(std::memory_order_relaxed);
    return true;
  }
};

std::atomic<unsigned> readCalls{0};
std::atomic<unsigned> writeCalls{0};
CallRange failedReads;
CallRange failedWrites;
CallRange shortenedWrites;

std::atomic<bool> openHookSet{false};
std::mutex openHookMutex;
std::function<void(const std::string&, DWORD)> openHook;

}  // namespace

void FailReads(unsigned first, unsigned count, DWORD code) {
  readCalls.store(0);
  failedReads.Arm(first, count, code);
}

void FailWrites(unsigned first, unsigned count, DWORD code) {
  writeCalls.store(0);
  failedWrites.Arm(first, count, code);
}

void ShortenWrites(unsigned first, unsigned count, DWORD maxBytes) {
  writeCalls.store(0);
  shortenedWrites.Arm(first, count, maxBytes);
}

void SetOpenHook(std::function<void(const std::string& nativePath, DWORD access)> hook) {
  std::lock_guard<std::mutex> lock(openHookMutex);
  openHook = std::move(hook);
  openHookSet.store(static_cast<bool>(openHook), std::memory_order_release);
}

bool HandleUsesDirectIo(HANDLE handle) {
  posix_standin::FileObject* file = posix_standin::FileFromHandle(handle);
  return file != nullptr && file->directIo;
}

int HandleDescriptor(HANDLE handle) {
  posix_standin::FileObject* file = posix_standin::FileFromHandle(handle);
  return file == nullptr ? -1 : file->fd;
}

unsigned ReadCalls() { return readCalls.load(); }
unsigned WriteCalls() { return writeCalls.load(); }

void ResetFileFaults() {
  failedReads.Disarm();
  failedWrites.Disarm();
  shortenedWrites.Disarm();
  readCalls.store(0);
  writeCalls.store(0);
  SetOpenHook(nullptr);
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

void RunOpenHook(const std::string& nativePath, DWORD access) {
  thread_local bool insideHook = false;
  if (insideHook || !openHookSet.load(std::memory_order_acquire)) return;
  std::function<void(const std::string&, DWORD)> hook;
  {
    std::lock_guard<std::mutex> lock(openHookMutex);
    hook = openHook;
  }
  // Called outside the lock so that the hook may open files itself; its own
  // opens do not run it again.
  if (!hook) return;
  insideHook = true;
  try {
    hook(nativePath, access);
  } catch (...) {
    insideHook = false;
    throw;
  }
  insideHook = false;
}

}  // namespace detail

}  // namespace fault_injection
