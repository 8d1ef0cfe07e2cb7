// Helpers for driving a CopyController from tests: the listing hook, a gate
// that holds the worker at a known point, and snapshots of the shared records.
#pragma once

#include "gui/copy_controller.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

namespace quillmere {

// The one way into the controller's listing hook.
struct CopyControllerTestAccess {
  using Hook = CopyController::ListingHook;
  static void SetListingHook(Hook hook) { CopyController::BeforeListingHook() = std::move(hook); }
};

// Installs a listing hook for its lifetime. Declare it before the controller,
// so the controller (and with it the worker) is gone before the hook is.
class ScopedListingHook {
 public:
  explicit ScopedListingHook(CopyControllerTestAccess::Hook hook) {
    CopyControllerTestAccess::SetListingHook(std::move(hook));
  }
  ~ScopedListingHook() { CopyControllerTestAccess::SetListingHook(nullptr); }
  ScopedListingHook(const ScopedListingHook&) = delete;
  ScopedListingHook& operator=(const ScopedListingHook&) = delete;
};

// One thread waits at the gate (and says it got there) until another opens it.
class Gate {
 public:
  void ArriveAndWait() {
    std::unique_lock<std::mutex> lock(mutex);
    reached = true;
    changed.notify_all();
    changed.wait(lock, [this] { return open; });
  }
  void WaitUntilReached() {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [this] { return reached; });
  }
  void Open() {
    std::lock_guard<std::mutex> lock(mutex);
    open = true;
    changed.notify_all();
  }

 private:
  std::mutex mutex;
  std::condition_variable changed;
  bool reached = false;
  bool open = false;
};

// Waits for the worker's last store; no deadline (CTest's timeout is the net).
inline void WaitForRunEnd(const CopyController& controller) {
  while (controller.running) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

inline ProgressInfo ProgressSnapshot() {
  std::lock_guard<std::mutex> lock(progressMutex);
  return sharedProgress;
}

inline std::string LastErrorSnapshot() {
  std::lock_guard<std::mutex> lock(lastErrorMutex);
  return lastError;
}

inline void SetLastErrorForTest(const std::string& text) {
  std::lock_guard<std::mutex> lock(lastErrorMutex);
  lastError = text;
}

inline void SetProgressForTest(const ProgressInfo& info) {
  std::lock_guard<std::mutex> lock(progressMutex);
  sharedProgress = info;
}

}  // namespace quillmere
