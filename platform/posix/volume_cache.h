// What the stand-in remembers about mounted volumes, so that a copy of many
// files does not walk up to the mount point and read the device's block size
// again for every file of a folder.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <tuple>

namespace posix_standin {

// A file system object as one mount shows it. Two paths give the same
// MountedObject only when they reach the same object through the same mount:
// a mount that appears later over a folder, or over any folder above it,
// shows that path's object under another mount, so the path's new key is one
// no cache has seen. Mounts are numbered with the kernel's unique mount ids
// where it has them (never reused until the next boot), else with its plain
// mount ids. A plain id names one mount only while that mount lives: once it
// is gone the kernel gives the lowest free id to the next mount, and every
// ext4 root is inode 2, so a device attached again under the same number and
// mounted anew can give a key that was seen before.
struct MountedObject {
  uint64_t mount = 0;
  uint64_t device = 0;
  uint64_t inode = 0;
  bool uniqueMount = false;  // mount is a unique id
  bool isFolder = false;
  bool isMountRoot = false;

  bool operator<(const MountedObject& other) const {
    return std::tie(mount, uniqueMount, device, inode) <
           std::tie(other.mount, other.uniqueMount, other.device, other.inode);
  }
  bool operator==(const MountedObject& other) const {
    return std::tie(mount, uniqueMount, device, inode) ==
           std::tie(other.mount, other.uniqueMount, other.device, other.inode);
  }
};

// Linux 6.8 also numbers mounts once per boot (STATX_MNT_ID_UNIQUE, a name
// older headers lack).
constexpr unsigned kUniqueMountId = 0x4000U;

// The statx fields a MountedObject is made of: the unique mount id where the
// kernel has it. The test variant can leave it out, as kernels before 6.8 do.
unsigned MountedObjectMask();

// The object that statx described, asked for MountedObjectMask() at least.
// False when the kernel does not number mounts (before Linux 5.8): such an
// object has no key.
bool MountedObjectOf(const struct statx& info, MountedObject& object);

// Examines path, following links. False when it cannot be examined, errno
// saying why, and when it has no key, errno then 0.
bool ExamineMounted(const std::string& path, MountedObject& object);

// Values remembered per MountedObject. A lookup answers only for a key that
// was remembered. Safe to use from several threads at once. Holds at most
// kLimit entries: a full cache starts over, since a long-running program may
// copy any number of folders.
template <typename Value>
class MountCache {
 public:
  static constexpr size_t kLimit = 4096;

  bool Find(const MountedObject& key, Value& value) const {
    std::lock_guard<std::mutex> lock(mutex);
    auto found = entries.find(key);
    if (found == entries.end()) return false;
    value = found->second;
    return true;
  }

  void Remember(const MountedObject& key, const Value& value) {
    std::lock_guard<std::mutex> lock(mutex);
    if (entries.size() >= kLimit) entries.clear();
    entries[key] = value;
  }

 private:
  mutable std::mutex mutex;
  std::map<MountedObject, Value> entries;
};

}  // namespace posix_standin
