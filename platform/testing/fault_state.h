// The file half of the fault-injection seam as the platform's file calls
// consult it, in the test variant of the platform only. When nothing is
// armed each check is one atomic load plus the call counter's increment.
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

// Runs the hook of SetOpenHook, if one is set.
void RunOpenHook(const std::string& path, DWORD access);

// Runs the hook of SetWriteHook, if one is set.
void RunWriteHook(const void* data, DWORD length);

#if QUILLMERE_POSIX_STANDIN
// The errno that RefuseLocks armed for every lock call, or 0.
int LockRefusal();
// True while RefuseDirectIo is on.
bool DirectIoRefused();
// True while UsePlainMountIds is on.
bool PlainMountIds();
// Runs the hook of SetRefusedCreationHook, if one is set.
void RunRefusedCreationHook(const char* path);
#endif

}  // namespace detail
}  // namespace fault_injection
