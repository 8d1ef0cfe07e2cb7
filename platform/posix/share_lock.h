// Windows share modes for the stand-in's file handles. Internal to
// platform/posix/.
#pragma once

#include "platform/posix/file_object.h"

#include <sys/stat.h>

namespace posix_standin {

// Claims the new handle's place among the file's open handles, as Windows
// checks share access: the open fails when an open handle does not share an
// access the new one asks for, or when the new one does not share an access
// an open handle has. Works across hard links and, through file locks,
// across processes. file.fd must be open and info its fstat;
// file.lockFd may be set to a second descriptor that holds the claim.
// ERROR_SUCCESS, ERROR_SHARING_VIOLATION, or the code of a failed lock call.
// A handle that asks for neither reading nor writing claims and checks
// nothing, as on Windows. Where the file system refuses the lock calls, the
// claim is judged against, and kept in, a table of this process's open
// handles on such files (device, inode, access, share mode), so the handles
// of this process still exclude each other; other processes' go unseen.
DWORD ClaimShareAccess(FileObject& file, const struct stat& info, DWORD access, DWORD shareMode);

// Removes the handle's claim from the process's table (FileObject::Close).
void ForgetShareAccess(FileObject& file);

}  // namespace posix_standin
