// CreateDirectoryExW: one new folder with its template's permission bits.
//
// The mode goes to mkdir itself, so the folder is never more open than its
// template, not even for a moment before a chmod.
#include "platform/posix/posix_internal.h"

#include <sys/stat.h>

#include <cerrno>
#include <string>

BOOL CreateDirectoryExW(const char* templateNative, const char* newNative,
                        LPSECURITY_ATTRIBUTES) {
  if (templateNative == nullptr || newNative == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  struct stat model;
  if (::stat(templateNative, &model) != 0) {
    SetLastError(posix_standin::Win32ErrorForPath(errno, templateNative));
    return FALSE;
  }
  const mode_t mode = 0777 & (S_IRWXU | (model.st_mode & (S_IRWXG | S_IRWXO)));
  if (::mkdir(newNative, mode) != 0) {
    // Windows names a taken name with its own code here, not "file exists".
    SetLastError(errno == EEXIST ? ERROR_ALREADY_EXISTS
                                 : posix_standin::Win32ErrorForPath(errno, newNative));
    return FALSE;
  }
  return TRUE;
}

BOOL CreateDirectoryExW(LPCWSTR templateFolder, LPCWSTR newFolder,
                        LPSECURITY_ATTRIBUTES security) {
  if (templateFolder == nullptr || newFolder == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::string model = posix_standin::NativePathFromWide(templateFolder);
  const std::string folder = posix_standin::NativePathFromWide(newFolder);
  return CreateDirectoryExW(model.c_str(), folder.c_str(), security);
}
