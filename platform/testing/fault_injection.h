// Fault-injection seam, for the test programs only.
//
// The shipped programs hold none of it: the test programs link a variant of
// the platform with the seam built in (QUILLMERE_FAULT_SEAM is 1 there and
// only there). On the POSIX stand-in the variant is the stand-in compiled
// with its checks; on Windows the test programs' calls of the system's file
// functions are routed through the seam at link time. A test arms a fault,
// runs the code under test and resets the seam. Counters of calls start when
// a fault is armed.
#pragma once

#include "platform/win32.h"

#include <functional>
#include <string>

namespace fault_injection {

// ---- Files -----------------------------------------------------------------
// ReadFile calls number first .. first+count-1 (1-based, counted over all
// handles from this call on) fail with code and read nothing.
void FailReads(unsigned first, unsigned count, DWORD code);
// WriteFile calls number first .. first+count-1 fail with code.
void FailWrites(unsigned first, unsigned count, DWORD code);
// WriteFile calls number first .. first+count-1 succeed but write and report
// at most maxBytes bytes (0 gives a write that succeeds with nothing written).
void ShortenWrites(unsigned first, unsigned count, DWORD maxBytes);
// Called with the path (UTF-8) and the access at the start of every
// CreateFileW.
void SetOpenHook(std::function<void(const std::string& path, DWORD access)> hook);
// Called with the bytes every WriteFile is asked to write, before it looks at
// them, from the writing thread.
void SetWriteHook(std::function<void(const void* data, DWORD length)> hook);
// ReadFile and WriteFile calls made since the last reset.
unsigned ReadCalls();
unsigned WriteCalls();
void ResetFileFaults();

#if QUILLMERE_POSIX_STANDIN
// ---- The stand-in's own (platform/posix/) ----------------------------------
// Every share-mode lock call fails with errnoValue, as on a file system
// without locks (ENOLCK, EOPNOTSUPP, ...); 0 lets them through again.
void RefuseLocks(int errnoValue);
// Every open that asks for O_DIRECT fails with EINVAL after it has opened
// the file (and created it, where it asked to), as on a file system without
// direct I/O; false lets them through again.
void RefuseDirectIo(bool refuse);
// Called with the path of an exclusive creation that RefuseDirectIo turned
// down, once the file is made and before the open that takes it over, on the
// opening thread: a test can put something else in its place there.
void SetRefusedCreationHook(std::function<void(const std::string& path)> hook);
// True when the handle's descriptor was opened with O_DIRECT.
bool HandleUsesDirectIo(HANDLE handle);
// The POSIX descriptor behind a handle, or -1.
int HandleDescriptor(HANDLE handle);
// The volume calls number mounts with the kernel's plain mount ids, which it
// gives again to the next mount once one is gone, as kernels before Linux 6.8
// do; false goes back to the unique ids where the kernel has them.
void UsePlainMountIds(bool plain);

// Hashing (bcrypt_api.cpp).
void FailOpenProvider(bool fail);
void FailCreateHash(bool fail);
// BCryptGetProperty of the object length reports 0.
void ReportZeroObjectLength(bool zero);
// Providers and hashes currently open.
int OpenProviders();
int OpenHashes();
void ResetHashFaults();
// The COM calls' part is declared with them, in com_dialog.h.
#endif

inline void ResetAll() {
  ResetFileFaults();
#if QUILLMERE_POSIX_STANDIN
  ResetHashFaults();
#endif
}

}  // namespace fault_injection
