#include "platform/posix/volume_cache.h"

#if QUILLMERE_FAULT_SEAM
#include "platform/testing/fault_state.h"
#endif

#include <cerrno>

namespace posix_standin {

unsigned MountedObjectMask() {
  constexpr unsigned kMask = STATX_TYPE | STATX_INO | STATX_MNT_ID | kUniqueMountId;
#if QUILLMERE_FAULT_SEAM
  if (fault_injection::detail::PlainMountIds()) return kMask & ~kUniqueMountId;
#endif
  return kMask;
}

bool MountedObjectOf(const struct statx& info, MountedObject& object) {
  if ((info.stx_mask & (STATX_MNT_ID | kUniqueMountId)) == 0) return false;
  object.mount = info.stx_mnt_id;
  object.device = (static_cast<uint64_t>(info.stx_dev_major) << 32) | info.stx_dev_minor;
  object.inode = info.stx_ino;
  object.uniqueMount = (info.stx_mask & kUniqueMountId) != 0;
  object.isFolder = S_ISDIR(info.stx_mode);
  object.isMountRoot = (info.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
  return true;
}

bool ExamineMounted(const std::string& path, MountedObject& object) {
  struct statx info = {};
  if (::statx(AT_FDCWD, path.c_str(), 0, MountedObjectMask(), &info) != 0) return false;
  if (MountedObjectOf(info, object)) return true;
  errno = 0;
  return false;
}

}  // namespace posix_standin
