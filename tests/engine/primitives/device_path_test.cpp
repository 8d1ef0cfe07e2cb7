// Whole volumes and disks named by path: never a copy's source or
// destination, while files on them stay ordinary paths.
#include "engine/device_path.h"
#include "engine/win32_file.h"
#include "tests/engine/primitives/primitives_test_support.h"

#include <gtest/gtest.h>

namespace {

using primitives_test::OpenedFile;
using quillmere::NamesRawDevice;

constexpr uint32_t kNotSupported = 50;

const char* const kDevices[] = {
    R"(\\.\C:)",
    R"(\\?\c:)",
    "//./PhysicalDrive1",
    R"(\\?\Volume{3f1c2a7e-0000-0000-0000-100000000000})",
    R"(\??\PhysicalDrive0)",
    R"(\\?\GLOBALROOT\Device\HarddiskVolume3)",
    R"(\\?\globalroot\device\Harddisk0\Partition0)",
    R"(\\.\GLOBALROOT\Device\CdRom0)",
};

TEST(RawDevicePaths, AreToldFromFilesOnThemAndRefusedBeforeTheyAreOpened) {
  for (const char* path : kDevices) EXPECT_TRUE(NamesRawDevice(path)) << path;
  for (const char* path : {
           R"(\\.\C:\)",
           R"(\\?\C:\data\x.bin)",
           R"(\\?\Volume{3f1c2a7e-0000-0000-0000-100000000000}\x.bin)",
           R"(\\?\UNC\server\share\x.bin)",
           R"(\\?\GLOBALROOT\Device\HarddiskVolumeShadowCopy1\Users\x.bin)",
           R"(\\?\GLOBALROOT\Device\Harddisk0\Partition1\x.bin)",
           R"(\\?\GLOBALROOT\Device\Harddisk0\)",
           R"(\\.\)",
           R"(\??\C:\x.bin)",
           R"(\\server\share)",
           R"(C:\x.bin)",
           "C:",
           "/dev/sda",
       }) {
    EXPECT_FALSE(NamesRawDevice(path)) << path;
  }
  // Elsewhere a backslash is part of a name, and such a path a file's.
  if (!QUILLMERE_DEVICE_PATHS) return;
  for (const char* path : kDevices) {
    OpenedFile source(quillmere::OpenSource(path));
    EXPECT_FALSE(source->ok) << path;
    EXPECT_EQ(source->errorCode, kNotSupported) << path;
    OpenedFile destination(quillmere::OpenDestination(path, 0));
    EXPECT_FALSE(destination->ok) << path;
    EXPECT_EQ(destination->errorCode, kNotSupported) << path;
  }
}

}  // namespace
