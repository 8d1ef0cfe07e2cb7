// A test's hook on a platform call, for the fault-injection seam.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <utility>

namespace fault_injection {
namespace detail {

// Run copies the hook out of the lock and calls it there, so that the hook
// may make the same calls itself; those do not run it again.
template <typename... Args>
class Hook {
 public:
  void Set(std::function<void(Args...)> hook) {
    std::lock_guard<std::mutex> lock(mutex);
    function = std::move(hook);
    set.store(static_cast<bool>(function), std::memory_order_release);
  }

  void Run(Args... args) {
    thread_local bool inside = false;
    if (inside || !set.load(std::memory_order_acquire)) return;
    std::function<void(Args...)> hook;
    {
      std::lock_guard<std::mutex> lock(mutex);
      hook = function;
    }
    if (!hook) return;
    inside = true;
    try {
      hook(args...);
    } catch (...) {
      inside = false;
      throw;
    }
    inside = false;
  }

 private:
  std::atomic<bool> set{false};
  std::mutex mutex;
  std::function<void(Args...)> function;
};

}  // namespace detail
}  // namespace fault_injection
