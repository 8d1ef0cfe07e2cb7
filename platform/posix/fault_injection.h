// Fault-injection seam of the POSIX stand-in, for tests only.
//
// Nothing in the programs calls these functions and nothing outside the
// process can switch them on: a test arms a fault, runs the code under test
// and resets the seam. Counters of calls start when a fault is armed.
// Exists only where QUILLMERE_POSIX_STANDIN is 1.
#pragma once

#include "platform/win32.h"

#include <functional>
#include <string>

namespace fault_injection {

// ---- Files (file_api.cpp / fault_injection.cpp) ----------------------------
// ReadFile calls number first .. first+count-1 (1-based, counted over all
// handles from this call on) fail with code and read nothing.
void FailReads(unsigned first, unsigned count, DWORD code);
// WriteFile calls number first .. first+count-1 fail with code.
void FailWrites(unsigned first, unsigned count, DWORD code);
// WriteFile calls number first .. first+count-1 succeed but write and report
// at most maxBytes bytes (0 gives a write that succeeds with nothing written).
void ShortenWrites(unsigned first, unsigned count, DWORD maxBytes);
// Every share-mode lock call fails with errnoValue, as on a file system
// without locks (ENOLCK, EOPNOTSUPP, ...); 0 lets them through again.
void RefuseLocks(int errnoValue);
// Called with the native path at the start of every CreateFileW.
void SetOpenHook(std::function<void(const std::string& nativePath, DWORD access)> hook);
// Called with the bytes every WriteFile is asked to write, before it looks at
// them, from the writing thread.
void SetWriteHook(std::function<void(const void* data, DWORD length)> hook);
// True when the handle's descriptor was opened with O_DIRECT.
bool HandleUsesDirectIo(HANDLE handle);
// The POSIX descriptor behind a handle, or -1.
int HandleDescriptor(HANDLE handle);
// ReadFile and WriteFile calls made since the last reset.
unsigned ReadCalls();
unsigned WriteCalls();
void ResetFileFaults();

// ---- Hashing (bcrypt_api.cpp) ----------------------------------------------
void FailOpenProvider(bool fail);
void FailCreateHash(bool fail);
// BCryptGetProperty of the object length reports 0.
void ReportZeroObjectLength(bool zero);
// Providers and hashes currently open.
int OpenProviders();
int OpenHashes();
void ResetHashFaults();

inline void ResetAll() {
  ResetFileFaults();
  ResetHashFaults();
}

}  // namespace fault_injection
