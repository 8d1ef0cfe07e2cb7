// Makes the listing of one folder break off, for tests of the tree walk.
//
// The test program provides its own readdir, which the C++ library's folder
// iterator calls; it passes every call through to the C library except for
// the one armed folder, whose listing fails with EIO once `entriesBefore`
// entries other than "." and ".." have been handed out (0: the folder fails
// as it is opened). POSIX hosts only.
#pragma once

#include <filesystem>

namespace readdir_fault {

void FailListing(const std::filesystem::path& folder, unsigned entriesBefore);
// How many failures were injected since the last Reset; 0 means the library
// lists folders some other way and the fault never fired.
unsigned FailuresInjected();
void Reset();

}  // namespace readdir_fault
