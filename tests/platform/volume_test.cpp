// Volumes and file attributes in the stand-in: GetVolumePathNameW,
// GetDiskFreeSpaceW and GetFileAttributesExW.
#include "platform/testing/fault_injection.h"
#include "tests/platform/platform_test_support.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace {

namespace fs = std::filesystem;
using testing_support::PatternBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;

std::string Narrow(const WCHAR* text) {
  std::string out;
  for (; *text != 0; ++text) out.push_back(static_cast<char>(*text));  // ASCII test paths
  return out;
}

bool VolumePath(const std::string& path, std::string& volume, DWORD length = MAX_PATH) {
  WCHAR buffer[MAX_PATH] = {};
  if (!GetVolumePathNameW(path.c_str(), buffer, length)) return false;
  volume = Narrow(buffer);
  return true;
}

dev_t DeviceOf(const std::string& path) {
  struct stat info = {};
  ::stat(path.c_str(), &info);
  return info.st_dev;
}

TEST(GetVolumePathName, PathNotYetCreatedBelongsToItsNearestFoldersVolume) {
  TempDir dir;
  std::string ofFolder;
  std::string ofMissing;
  ASSERT_TRUE(VolumePath(dir.path().string(), ofFolder));
  ASSERT_TRUE(VolumePath(dir.File("not/yet/there.bin"), ofMissing));
  EXPECT_EQ(ofMissing, ofFolder);
  ASSERT_FALSE(ofFolder.empty());
  EXPECT_EQ(ofFolder.back(), '/');
  std::string canonical = fs::canonical(dir.path()).string() + "/";
  EXPECT_EQ(canonical.compare(0, ofFolder.size(), ofFolder), 0)
      << ofFolder << " should hold " << canonical;
  EXPECT_EQ(DeviceOf(ofFolder), DeviceOf(dir.path().string()));
}

TEST(GetVolumePathName, RootIsItsOwnVolumeAndRelativePathsUseTheCurrentFolder) {
  std::string volume;
  ASSERT_TRUE(VolumePath("/", volume));
  EXPECT_EQ(volume, "/");
  std::string relative;
  std::string current;
  ASSERT_TRUE(VolumePath("some-relative-name", relative));
  ASSERT_TRUE(VolumePath(fs::current_path().string(), current));
  EXPECT_EQ(relative, current);
}

TEST(GetVolumePathName, BufferTooSmallFails) {
  TempDir dir;
  std::string volume;
  ASSERT_TRUE(VolumePath(dir.path().string(), volume));
  std::string shortened;
  EXPECT_FALSE(VolumePath(dir.path().string(), shortened, static_cast<DWORD>(volume.size())));
  EXPECT_EQ(GetLastError(), ERROR_FILENAME_EXCED_RANGE);
  EXPECT_TRUE(VolumePath(dir.path().string(), shortened, static_cast<DWORD>(volume.size() + 1)));
}

DWORD SectorOf(const std::string& folder) {
  std::u16string root(folder.begin(), folder.end());  // ASCII test paths
  DWORD perCluster = 0, sector = 0, freeClusters = 0, totalClusters = 0;
  GetDiskFreeSpaceW((root + u"/").c_str(), &perCluster, &sector, &freeClusters, &totalClusters);
  return sector;
}

// Runs body in a forked child with a mount namespace of its own, whose mounts
// go away with it, and gives its exit status (body's return value); 255 when
// this user may not make one.
int RunWithOwnMounts(const std::function<int()>& body) {
  pid_t child = ::fork();
  if (child < 0) return -1;
  if (child == 0) {
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
      ::_exit(255);
    }
    ::_exit(body());
  }
  int status = 0;
  if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

bool MountTmpfs(const std::string& folder) {
  return ::mount("none", folder.c_str(), "tmpfs", 0, "size=1m") == 0;
}

// A copy asks for the volume of every file; the answers for one folder are
// remembered, and must follow mounts that come, move and go afterwards.
TEST(GetVolumePathName, FollowsMountsThatAppearInsideAFolderAlreadyAskedAbout) {
  TempDir dir;
  const std::string tree = fs::canonical(dir.path()).string() + "/tree";
  const std::string inner = tree + "/inner";
  const std::string moved = tree + "/moved";
  const std::string fresh = tree + "/fresh";
  for (const std::string& folder : {inner, moved, fresh}) fs::create_directories(folder);
  const int status = RunWithOwnMounts([&] {
    std::string volume, outer;
    if (!VolumePath(inner + "/a.bin", outer) || !VolumePath(tree + "/b.bin", volume)) return 1;
    const DWORD outerSector = SectorOf(inner);
    if (!MountTmpfs(inner) || !MountTmpfs(fresh)) return 254;
    if (!VolumePath(inner + "/a.bin", volume) || volume != inner + "/") return 2;
    if (!VolumePath(tree + "/b.bin", volume) || volume != outer) return 3;
    // A folder that became a mount point has the new volume's sector size.
    const DWORD tmpfsSector = SectorOf(fresh);
    if (tmpfsSector != outerSector && SectorOf(inner) != tmpfsSector) return 4;

    if (::mount(inner.c_str(), moved.c_str(), nullptr, MS_MOVE, nullptr) != 0) return 254;
    if (!VolumePath(moved + "/a.bin", volume) || volume != moved + "/") return 5;
    if (::umount(moved.c_str()) != 0) return 254;
    if (!VolumePath(moved + "/a.bin", volume) || volume != outer) return 6;
    if (!VolumePath(inner + "/a.bin", volume) || volume != outer) return 7;
    return 0;
  });
  if (status == 255 || status == 254) GTEST_SKIP() << "this user may not mount";
  // 2: the mount over a folder asked about before; 3: its parent; 4: the
  // sector size; 5: the mount moved; 6, 7: the mount taken away.
  EXPECT_EQ(status, 0);
}

bool Quietly(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// Attaches image to a loop device (device, or the first free one when empty)
// with the given logical block size; the device's path, or "" when it could
// not be attached.
std::string AttachLoop(const std::string& image, unsigned blockSize, const std::string& device) {
  const std::string command = "losetup --show --sector-size " + std::to_string(blockSize) + " " +
                              (device.empty() ? "--find" : device) + " " + image + " 2>/dev/null";
  std::unique_ptr<FILE, decltype(&::pclose)> output(::popen(command.c_str(), "r"), &::pclose);
  char line[256] = {};
  if (!output || std::fgets(line, sizeof line, output.get()) == nullptr) return "";
  std::string path(line);
  if (!path.empty() && path.back() == '\n') path.pop_back();
  return path;
}

uint64_t PlainMountId(const std::string& path) {
  struct statx info = {};
  ::statx(AT_FDCWD, path.c_str(), 0, STATX_MNT_ID, &info);
  return info.stx_mnt_id;
}

// A loop device detached and attached again under the same number with
// another block size, its file system mounted anew one folder higher: with
// the plain mount ids of kernels before 6.8 the new mount gets the old one's
// id, and every folder of it its old inode. The answers must be the new
// mount's: its sector size (a 512 left for a 4096-byte device makes every
// write-through write a buffered one) and its mount point.
TEST(GetDiskFreeSpace, VolumeOfADeviceAttachedAgainWithAnotherBlockSize) {
  TempDir dir;
  const std::string image = dir.File("disk.img");
  const std::string base = fs::canonical(dir.path()).string() + "/volume";
  fs::create_directories(base + "/a");
  WriteBytes(image, {});
  fs::resize_file(image, 8 << 20);
  if (!Quietly("mkfs.ext4 -q -b 4096 " + image)) GTEST_SKIP() << "no mkfs.ext4";
  const int status = RunWithOwnMounts([&] {
    fault_injection::UsePlainMountIds(true);
    std::string device;
    for (int attempt = 0; attempt < 5; ++attempt) {
      uint64_t firstId = 0;
      for (unsigned blockSize : {512u, 4096u}) {
        // The volume's folder a is asked about both times.
        const std::string point = blockSize == 512 ? base + "/a" : base;
        device = AttachLoop(image, blockSize, device);
        if (device.empty()) return 254;
        if (::mount(device.c_str(), point.c_str(), "ext4", 0, nullptr) != 0) {
          Quietly("losetup -d " + device);
          return 254;
        }
        std::error_code ignored;
        fs::create_directories(point + "/a", ignored);
        std::string volume;
        const bool found = VolumePath(point + "/a", volume);
        const DWORD sector = SectorOf(point);
        const uint64_t id = PlainMountId(point);
        ::umount(point.c_str());
        Quietly("losetup -d " + device);
        if (sector != blockSize) return 1;
        if (!found || volume != point + "/") return 2;
        if (firstId == 0) firstId = id;
        else if (id == firstId) return 0;
      }
    }
    return 253;
  });
  if (status == 255 || status == 254) {
    GTEST_SKIP() << "this user may not attach and mount loop devices";
  }
  if (status == 253) GTEST_SKIP() << "the kernel gave the new mount another id every time";
  // 1: the old sector size; 2: the old mount point.
  EXPECT_EQ(status, 0);
}

TEST(GetDiskFreeSpace, SectorSizeIsAnAlignmentDirectIoAccepts) {
  TempDir dir;
  WCHAR volume[MAX_PATH] = {};
  ASSERT_TRUE(GetVolumePathNameW(dir.path().c_str(), volume, MAX_PATH));
  DWORD perCluster = 0, sector = 0, freeClusters = 0, totalClusters = 0;
  ASSERT_TRUE(GetDiskFreeSpaceW(volume, &perCluster, &sector, &freeClusters, &totalClusters));
  EXPECT_GE(perCluster, 1u);
  EXPECT_GT(totalClusters, 0u);
  EXPECT_LE(freeClusters, totalClusters);
  if (sector == 0) GTEST_SKIP() << "this volume reports no direct-I/O alignment";
  EXPECT_EQ(sector & (sector - 1), 0u) << "a power of two";

  // A direct write of one sector from a sector-aligned buffer must be taken
  // as it is, without the handle falling back to buffered I/O.
  HANDLE writer = platform_test::Open(dir.File("aligned.bin"), GENERIC_WRITE, 0, CREATE_ALWAYS,
                                      FILE_FLAG_NO_BUFFERING);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  bool direct = fault_injection::HandleUsesDirectIo(writer);
  void* block = nullptr;
  ASSERT_EQ(::posix_memalign(&block, sector, sector), 0);
  std::unique_ptr<void, decltype(&std::free)> owner(block, &std::free);
  DWORD count = 0;
  EXPECT_TRUE(WriteFile(writer, block, sector, &count, nullptr));
  EXPECT_EQ(count, sector);
  EXPECT_EQ(fault_injection::HandleUsesDirectIo(writer), direct);
  CloseHandle(writer);
}

TEST(GetDiskFreeSpace, MissingRootFails) {
  DWORD perCluster = 0, sector = 0, freeClusters = 0, totalClusters = 0;
  EXPECT_FALSE(GetDiskFreeSpaceW(u"/no/such/volume/root/", &perCluster, &sector, &freeClusters,
                                 &totalClusters));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST(GetFileAttributesEx, GivesSizeAndKindOrTheMissingCode) {
  TempDir dir;
  std::string file = dir.File("data.bin");
  WriteBytes(file, PatternBytes(12345));
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  ASSERT_TRUE(GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ(data.nFileSizeLow, 12345u);
  EXPECT_EQ(data.nFileSizeHigh, 0u);
  EXPECT_EQ(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);

  ASSERT_TRUE(GetFileAttributesExW(dir.path().c_str(), GetFileExInfoStandard, &data));
  EXPECT_NE(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);

  EXPECT_FALSE(GetFileAttributesExW(dir.File("absent").c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(GetFileAttributesExW(dir.File("absent/x").c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);

  // The UTF-16 form of the call reaches the same file.
  std::u16string wide(file.begin(), file.end());
  ASSERT_TRUE(GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ(data.nFileSizeLow, 12345u);
}

}  // namespace
