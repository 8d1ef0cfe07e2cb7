// GetFileSize64, GetSectorSize and SetFinalSize.
#include "engine/win32_file.h"
#include "tests/engine/primitives/primitives_test_support.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;
using primitives_test::OpenedFile;
using quillmere::GetFileSize64;
using quillmere::GetLastWin32Error;
using quillmere::GetSectorSize;
using quillmere::SetFinalSize;
using testing_support::PatternBytes;
using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;

TEST(GetFileSize64, GivesSizesPast4GiBInFullAndZeroForAMissingFile) {
  TempDir dir;
  std::string path = dir.File("sparse.bin");
  WriteBytes(path, {});
  fs::resize_file(path, 5368709120ULL);  // sparse: nothing is written
  EXPECT_EQ(GetFileSize64(path), 5368709120ULL);
  EXPECT_EQ(GetFileSize64(dir.File("absent.bin")), 0u);
  EXPECT_EQ(GetFileSize64(dir.File("absent/deeper.bin")), 0u);
}

TEST(GetSectorSize, PathNotYetCreatedGetsTheSizeOfTheVolumeThatWouldHoldIt) {
  TempDir dir;
  WriteBytes(dir.File("present.bin"), PatternBytes(10));
  const uint32_t ofFolder = GetSectorSize(dir.path().string());
  EXPECT_EQ(GetSectorSize(dir.File("present.bin")), ofFolder);
  EXPECT_EQ(GetSectorSize(dir.File("not/yet/made.bin")), ofFolder);
  EXPECT_NE(ofFolder, 0u);
  EXPECT_EQ(ofFolder & (ofFolder - 1), 0u) << "a power of two";
}

#if QUILLMERE_POSIX_STANDIN
// Every absolute path has a root here; a relative path whose current folder
// has been deleted has none that can be found.
TEST(GetSectorSize, PathWithoutAFindableRootGives4096) {
  const fs::path previous = fs::current_path();
  {
    TempDir dir;
    fs::path gone = dir.path() / "gone";
    fs::create_directory(gone);
    fs::current_path(gone);
    fs::remove(gone);
    EXPECT_EQ(GetSectorSize("file.bin"), 4096u);
    fs::current_path(previous);
  }
}
#else
TEST(GetSectorSize, PathOnADriveThatDoesNotExistGives4096) {
  std::string root;
  for (char letter = 'Z'; letter > 'C' && root.empty(); --letter) {
    std::string candidate = std::string(1, letter) + ":\\";
    std::error_code error;
    if (!fs::exists(candidate, error)) root = candidate;
  }
  if (root.empty()) GTEST_SKIP() << "every drive letter is in use";
  EXPECT_EQ(GetSectorSize(root + "folder\\file.bin"), 4096u);
}
#endif

TEST(SetFinalSize, CutsAFileToTheGivenSize) {
  TempDir dir;
  std::string path = dir.File("tail.bin");
  auto content = PatternBytes(12288, 8);
  WriteBytes(path, content);
  ASSERT_TRUE(SetFinalSize(path, 10000));
  EXPECT_EQ(ReadBytes(path), std::vector<uint8_t>(content.begin(), content.begin() + 10000));
}

TEST(SetFinalSize, FailureLeavesTheFailedOpensCode) {
  TempDir dir;
  EXPECT_FALSE(SetFinalSize(dir.File("absent.bin"), 10));
  EXPECT_EQ(GetLastWin32Error(), 2u);
  EXPECT_FALSE(fs::exists(dir.File("absent.bin")));

  std::string held = dir.File("held.bin");
  WriteBytes(held, PatternBytes(12288));
  OpenedFile reader(quillmere::OpenSource(held));
  ASSERT_TRUE(reader->ok);
  EXPECT_FALSE(SetFinalSize(held, 10));
  EXPECT_EQ(GetLastWin32Error(), 32u);
  EXPECT_EQ(fs::file_size(held), 12288u);
}

}  // namespace
