// Windows share modes for the stand-in's file handles. Internal to
// platform/posix/.
#pragma once

#include "platform/posix/file_object.h"

namespace posix_standin {

// Claims the new handle's place among the file's open handles, as Windows
// checks share access: the open fails when an open handle does not share an
// access the new one asks for, or when the new one does not share an access
// an open handle has. Works across hard links and processes. file.fd must be
// open; file.lockFd may be set to a second descriptor that holds the claim.
// ERROR_SUCCESS, ERROR_SHARING_VIOLATION, or the code of a failed lock call.
// A handle that asks for neither reading nor writing claims and checks
// nothing, as on Windows; on a file system without locks every open passes.
DWORD ClaimShareAccess(FileObject& file, DWORD access, DWORD shareMode);

}  // namespace posix_standin
