// GetFileAttributesExW, GetVolumePathNameW and GetDiskFreeSpaceW.
//
// A volume is a mounted file system: its root path is the mount point (with
// the trailing separator that Windows volume paths carry), and its "bytes
// per sector" is the alignment that unbuffered (O_DIRECT) I/O needs there.
#include "platform/posix/posix_internal.h"
#include "platform/posix/volume_cache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

namespace {

using posix_standin::MountedObject;

BOOL Fail(DWORD code) {
  SetLastError(code);
  return FALSE;
}

// ---- Attributes -------------------------------------------------------------

FILETIME ToFileTime(const struct timespec& time) {
  // FILETIME counts 100 ns steps from 1601-01-01; Unix time from 1970-01-01.
  constexpr int64_t kEpochDifference = 11644473600LL;
  uint64_t ticks = static_cast<uint64_t>((time.tv_sec + kEpochDifference) * 10000000LL +
                                         time.tv_nsec / 100);
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

DWORD AttributesOf(const struct stat& info) {
  if (S_ISDIR(info.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
  if ((info.st_mode & S_IWUSR) == 0) return FILE_ATTRIBUTE_READONLY;
  return FILE_ATTRIBUTE_NORMAL;
}

// ---- Paths ------------------------------------------------------------------

bool MakeAbsolute(const std::string& path, std::string& absolute) {
  if (!path.empty() && path[0] == '/') {
    absolute = path;
    return true;
  }
  std::unique_ptr<char, decltype(&std::free)> cwd(::getcwd(nullptr, 0), &std::free);
  if (!cwd) return false;
  absolute = std::string(cwd.get()) + "/" + path;
  return true;
}

// The path itself when it exists, else its nearest existing ancestor.
std::string NearestExisting(std::string path) {
  struct stat info;
  while (::stat(path.c_str(), &info) != 0 && path != "/") {
    path = posix_standin::ParentPath(path);
  }
  return path;
}

bool IsInside(const std::string& path, const std::string& mountPoint) {
  if (mountPoint == "/") return true;
  return path.compare(0, mountPoint.size(), mountPoint) == 0 &&
         (path.size() == mountPoint.size() || path[mountPoint.size()] == '/');
}

// mountinfo writes blanks, tabs, newlines and backslashes as \ooo.
std::string UnescapeMountField(const std::string& field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      out.push_back(static_cast<char>(std::strtol(field.substr(i + 1, 3).c_str(), nullptr, 8)));
      i += 3;
    } else {
      out.push_back(field[i]);
    }
  }
  return out;
}

// The longest mount point in /proc/self/mountinfo that holds path; a later
// mount over the same point wins. False when the table cannot be read.
bool MountPointFromTable(const std::string& path, std::string& mountPoint) {
  std::ifstream table("/proc/self/mountinfo");
  if (!table) return false;
  bool found = false;
  std::string line;
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string id, parent, device, root, point;
    if (!(fields >> id >> parent >> device >> root >> point)) continue;
    point = UnescapeMountField(point);
    if (IsInside(path, point) && (!found || point.size() >= mountPoint.size())) {
      mountPoint = point;
      found = true;
    }
  }
  return found;
}

// The number of the mount that holds path; false where statx does not give
// it (kernels before 5.8).
bool MountIdOf(const std::string& path, uint64_t& id) {
  struct statx info = {};
  if (::statx(AT_FDCWD, path.c_str(), 0, STATX_MNT_ID, &info) != 0) return false;
  if ((info.stx_mask & STATX_MNT_ID) == 0) return false;
  id = info.stx_mnt_id;
  return true;
}

// Walks up a resolved path while the parent lies in the same mount; the last
// folder so reached is the mount point. Exact for bind mounts and mounts
// over mounts alike, and far cheaper than having the kernel print the whole
// mount table, which a copy would otherwise pay for every file. False when
// the kernel does not number mounts.
bool MountPointByMountId(std::string path, std::string& mountPoint) {
  uint64_t id = 0;
  if (!MountIdOf(path, id)) return false;
  while (path != "/") {
    std::string parent = posix_standin::ParentPath(path);
    uint64_t parentId = 0;
    if (!MountIdOf(parent, parentId)) return false;
    if (parentId != id) break;
    path = parent;
  }
  mountPoint = path;
  return true;
}

// Without the mount table: walk up while the device stays the same.
std::string MountPointByDevice(std::string path) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) return "/";
  while (path != "/") {
    std::string parent = posix_standin::ParentPath(path);
    struct stat parentInfo;
    if (::stat(parent.c_str(), &parentInfo) != 0 || parentInfo.st_dev != info.st_dev) break;
    path = parent;
  }
  return path;
}

// The mount point of the volume that holds path (relative to the current
// folder when not absolute), found by walking up the path's resolved form.
bool WalkToMountPoint(const std::string& path, std::string& mountPoint) {
  std::string absolute;
  if (!MakeAbsolute(path, absolute)) return false;
  std::unique_ptr<char, decltype(&std::free)> real(
      ::realpath(NearestExisting(absolute).c_str(), nullptr), &std::free);
  if (!real) return false;
  if (!MountPointByMountId(real.get(), mountPoint) && !MountPointFromTable(real.get(), mountPoint)) {
    mountPoint = MountPointByDevice(real.get());
  }
  return true;
}

// ---- Remembered mount points -------------------------------------------------
// Every file of a folder lies on the folder's volume, so the walk above is
// made once per folder. The key is the folder itself as its mount shows it
// (see MountedObject), never its path: a mount that appears inside a tree
// already copied to gives its folders keys that were never seen.

posix_standin::MountCache<std::string>& MountPoints() {
  static posix_standin::MountCache<std::string> cache;
  return cache;
}

bool IsLink(const std::string& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

// The object whose volume is the one that holds path: path itself when it
// names a folder, a mount point or a link (whose target decides); the folder
// that holds it when it names another object; the nearest existing folder
// above it when it does not exist. False when there is none, or no key.
bool VolumeFolder(std::string path, MountedObject& folder) {
  while (!posix_standin::ExamineMounted(path, folder)) {
    if (errno == 0 || path == "/" || path == ".") return false;
    path = posix_standin::ParentPath(path);
  }
  if (folder.isFolder || folder.isMountRoot || IsLink(path)) return true;
  return posix_standin::ExamineMounted(posix_standin::ParentPath(path), folder);
}

// A remembered mount point still answers when the folder's mount has its
// root there: a mount that was moved elsewhere or taken away is looked up
// anew. Mounts alive at the same time never share an id, so this holds for
// plain mount ids too, whose mount may be a newer one than the remembered.
bool StillMountedAt(const MountedObject& folder, const std::string& mountPoint) {
  MountedObject root;
  return posix_standin::ExamineMounted(mountPoint, root) && root.isMountRoot &&
         root.mount == folder.mount && root.uniqueMount == folder.uniqueMount;
}

bool MountPointOf(const std::string& path, std::string& mountPoint) {
  MountedObject folder;
  const bool keyed = VolumeFolder(path, folder);
  if (keyed && MountPoints().Find(folder, mountPoint) && StillMountedAt(folder, mountPoint)) {
    return true;
  }
  if (!WalkToMountPoint(path, mountPoint)) return false;
  // Remembered only when no mount came or went under the path during the walk.
  MountedObject after;
  if (keyed && VolumeFolder(path, after) && folder == after) {
    MountPoints().Remember(folder, mountPoint);
  }
  return true;
}

// ---- Direct I/O alignment ---------------------------------------------------

uint32_t ReadNumberFile(const std::string& path) {
  std::ifstream file(path);
  unsigned long value = 0;
  if (file >> value && value <= UINT32_MAX) return static_cast<uint32_t>(value);
  return 0;
}

// The block device's logical block size; a partition keeps it in its disk's
// queue folder, one level up.
uint32_t LogicalBlockSize(unsigned major, unsigned minor) {
  std::string device = "/sys/dev/block/" + std::to_string(major) + ":" + std::to_string(minor);
  uint32_t size = ReadNumberFile(device + "/queue/logical_block_size");
  if (size == 0) size = ReadNumberFile(device + "/../queue/logical_block_size");
  return size;
}

// The device's logical block size, read once per folder asked about while
// that folder stays in the same mount: a mount holds its device, which can
// be neither detached nor attached again under it. Only a unique mount id
// says the mount is still the same one. A plain id may belong to a mount
// made since, of a device attached again under the same number with another
// block size, and a 512 remembered for a 4096-byte device would make every
// write-through write a buffered one; with plain ids the size is read anew.
uint32_t MountedBlockSize(const struct statx& info) {
  static posix_standin::MountCache<uint32_t> sizes;
  MountedObject folder;
  const bool keyed = posix_standin::MountedObjectOf(info, folder) && folder.uniqueMount;
  uint32_t size = 0;
  if (keyed && sizes.Find(folder, size)) return size;
  size = LogicalBlockSize(info.stx_dev_major, info.stx_dev_minor);
  if (keyed) sizes.Remember(folder, size);
  return size;
}

// What O_DIRECT transfers must be aligned to on the file system holding
// path: statx's direct-I/O alignment where the file system reports it (Linux
// reports it for files, not folders), else the logical block size of the
// block device below, else 0 (no direct I/O, or no way to tell).
uint32_t DirectIoAlignment(const std::string& path) {
  struct statx info = {};
  if (::statx(AT_FDCWD, path.c_str(), 0, STATX_DIOALIGN | posix_standin::MountedObjectMask(),
              &info) != 0) {
    return 0;
  }
  if (info.stx_mask & STATX_DIOALIGN) {
    if (info.stx_dio_offset_align == 0) return 0;
    return std::max(info.stx_dio_offset_align, info.stx_dio_mem_align);
  }
  if (info.stx_dev_major == 0) return 0;  // no block device behind it
  return MountedBlockSize(info);
}

DWORD ClampToDword(uint64_t value) {
  return value > UINT32_MAX ? UINT32_MAX : static_cast<DWORD>(value);
}

}  // namespace

// ---- Exported calls ---------------------------------------------------------

BOOL GetFileAttributesExW(const char* nativePath, GET_FILEEX_INFO_LEVELS level, LPVOID info) {
  if (nativePath == nullptr || info == nullptr || level != GetFileExInfoStandard) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  struct stat status;
  if (::stat(nativePath, &status) != 0) {
    return Fail(posix_standin::Win32ErrorForPath(errno, nativePath));
  }
  auto* data = static_cast<WIN32_FILE_ATTRIBUTE_DATA*>(info);
  data->dwFileAttributes = AttributesOf(status);
  data->ftCreationTime = ToFileTime(status.st_ctim);
  data->ftLastAccessTime = ToFileTime(status.st_atim);
  data->ftLastWriteTime = ToFileTime(status.st_mtim);
  uint64_t size = S_ISDIR(status.st_mode) ? 0 : static_cast<uint64_t>(status.st_size);
  data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
  data->nFileSizeLow = static_cast<DWORD>(size);
  return TRUE;
}

BOOL GetFileAttributesExW(LPCWSTR path, GET_FILEEX_INFO_LEVELS level, LPVOID info) {
  if (path == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  return GetFileAttributesExW(posix_standin::NativePathFromWide(path).c_str(), level, info);
}

BOOL GetVolumePathNameW(const char* nativePath, LPWSTR volumePath, DWORD length) {
  if (nativePath == nullptr || nativePath[0] == '\0' || volumePath == nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  std::string mountPoint;
  if (!MountPointOf(nativePath, mountPoint)) return Fail(Win32ErrorFromErrno(errno));
  if (mountPoint.empty() || mountPoint.back() != '/') mountPoint.push_back('/');

  std::basic_string<WCHAR> wide = posix_standin::WideFromUtf8(mountPoint);
  if (wide.size() + 1 > length) return Fail(ERROR_FILENAME_EXCED_RANGE);
  std::copy(wide.begin(), wide.end(), volumePath);
  volumePath[wide.size()] = 0;
  return TRUE;
}

BOOL GetVolumePathNameW(LPCWSTR path, LPWSTR volumePath, DWORD length) {
  if (path == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  return GetVolumePathNameW(posix_standin::NativePathFromWide(path).c_str(), volumePath, length);
}

BOOL GetDiskFreeSpaceW(LPCWSTR rootPath, LPDWORD sectorsPerCluster, LPDWORD bytesPerSector,
                       LPDWORD freeClusters, LPDWORD totalClusters) {
  std::string root = rootPath == nullptr ? "." : posix_standin::NativePathFromWide(rootPath);
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  struct statvfs volume;
  if (root.empty() || ::statvfs(root.c_str(), &volume) != 0) {
    return Fail(posix_standin::Win32ErrorForPath(root.empty() ? ENOENT : errno, root));
  }
  uint32_t sector = DirectIoAlignment(root);
  uint64_t blockBytes = volume.f_frsize != 0 ? volume.f_frsize : volume.f_bsize;
  uint64_t perCluster = sector != 0 ? std::max<uint64_t>(1, blockBytes / sector) : 1;
  uint64_t clusterBytes = perCluster * (sector != 0 ? sector : std::max<uint64_t>(blockBytes, 1));
  if (sectorsPerCluster != nullptr) *sectorsPerCluster = static_cast<DWORD>(perCluster);
  if (bytesPerSector != nullptr) *bytesPerSector = sector;
  if (freeClusters != nullptr) {
    *freeClusters = ClampToDword(volume.f_bavail * volume.f_frsize / clusterBytes);
  }
  if (totalClusters != nullptr) {
    *totalClusters = ClampToDword(volume.f_blocks * volume.f_frsize / clusterBytes);
  }
  return TRUE;
}
