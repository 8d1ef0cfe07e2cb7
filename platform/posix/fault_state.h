// The file half of the fault-injection seam as the file calls consult it.
// Internal to platform/posix/. When nothing is armed each check is one atomic
// load plus the call counter's increment.
#pragma once

#include "platform/win32.h"

#include <string>

namespace fault_injection {
namespace detail {

// Counts one ReadFile call; true (with the code to fail with) when this call
// is one that FailReads armed.
bool TakeReadFault(DWORD& code);

enum class WriteFault { kNone, kFail, kShorten };
// Counts one WriteFile call; for kFail value is the code, for kShorten the
// most bytes the call may write.
WriteFault TakeWriteFault(DWORD& value);

// The errno that RefuseLocks armed for every lock call, or 0.
int LockRefusal();

// Runs the hook of SetOpenHook, if one is set.
void RunOpenHook(const std::string& nativePath, DWORD access);

// Runs the hook of SetWriteHook, if one is set.
void RunWriteHook(const void* data, DWORD length);

}  // namespace detail
}  // namespace fault_injection
