#include "platform/posix/volume_cache.h"

#include <cerrno>

namespace posix_standin {

bool MountedObjectOf(const struct statx& info, MountedObject& object) {
  if ((info.stx_mask & (kMountedObjectMask & ~(STATX_TYPE | STATX_INO))) == 0) return false;
  object.mount = info.stx_mnt_id;
  object.device = (static_cast<uint64_t>(info.stx_dev_major) << 32) | info.stx_dev_minor;
  object.inode = info.stx_ino;
  object.isFolder = S_ISDIR(info.stx_mode);
  object.isMountRoot = (info.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
  return true;
}

bool ExamineMounted(const std::string& path, MountedObject& object) {
  struct statx info = {};
  if (::statx(AT_FDCWD, path.c_str(), 0, kMountedObjectMask, &info) != 0) return false;
  if (MountedObjectOf(info, object)) return true;
  errno = 0;
  return false;
}

}  // namespace posix_standin
