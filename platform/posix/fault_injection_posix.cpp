// The stand-in's own part of the fault-injection seam: refused locks and
// direct I/O, plain mount ids and a look at what is behind a handle. Built
// into the test variant only.
#include "platform/testing/fault_injection.h"

#include "platform/posix/file_object.h"
#include "platform/testing/fault_state.h"
#include "platform/testing/hook.h"

#include <atomic>
#include <string>
#include <utility>

namespace fault_injection {

namespace {
std::atomic<int> lockRefusal{0};
std::atomic<bool> directIoRefused{false};
std::atomic<bool> plainMountIds{false};
detail::Hook<const std::string&> refusedCreationHook;
}  // namespace

void RefuseLocks(int errnoValue) { lockRefusal.store(errnoValue, std::memory_order_release); }

void RefuseDirectIo(bool refuse) { directIoRefused.store(refuse, std::memory_order_release); }

void SetRefusedCreationHook(std::function<void(const std::string& path)> hook) {
  refusedCreationHook.Set(std::move(hook));
}

void UsePlainMountIds(bool plain) { plainMountIds.store(plain, std::memory_order_release); }

bool HandleUsesDirectIo(HANDLE handle) {
  posix_standin::FileObject* file = posix_standin::FileFromHandle(handle);
  return file != nullptr && file->directIo;
}

int HandleDescriptor(HANDLE handle) {
  posix_standin::FileObject* file = posix_standin::FileFromHandle(handle);
  return file == nullptr ? -1 : file->fd;
}

namespace detail {
int LockRefusal() { return lockRefusal.load(std::memory_order_acquire); }
bool DirectIoRefused() { return directIoRefused.load(std::memory_order_acquire); }
bool PlainMountIds() { return plainMountIds.load(std::memory_order_acquire); }

void RunRefusedCreationHook(const char* path) { refusedCreationHook.Run(path); }
}  // namespace detail

}  // namespace fault_injection
