// Volumes and file attributes in the stand-in: GetVolumePathNameW,
// GetDiskFreeSpaceW and GetFileAttributesExW.
#include "platform/posix/fault_injection.h"
#include "tests/platform/platform_test_support.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
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
