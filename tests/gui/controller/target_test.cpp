// Where the worker lists each source: the destination joined with the
// source's last path element.
#include "gui/copy_controller.h"
#include "platform/win32.h"
#include "tests/gui/controller/controller_test_support.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace quillmere {
namespace {

namespace fs = std::filesystem;
using testing_support::PatternBytes;
using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;

// The separator that the append rule inserts ('/' here, '\\' on Windows).
#define SEP QUILLMERE_PATH_SEPARATOR

TEST(CopyControllerTarget, FolderLandsAsFolderOfItsNameWithOrWithoutTrailingSeparator) {
  EXPECT_EQ(TargetForSource("/e/Data/Photos", "/d/Backup"), "/d/Backup" SEP "Photos");
  EXPECT_EQ(TargetForSource("/e/Data/Photos", "/d/Backup/"), "/d/Backup/Photos");
  EXPECT_EQ(TargetForSource("/e/Data/notes.txt", "/d/Backup"), "/d/Backup" SEP "notes.txt");
  EXPECT_EQ(TargetForSource("/e/Data/Photos", "relative/dir"), "relative/dir" SEP "Photos");
}

TEST(CopyControllerTarget, EmptyLastElementGivesDestinationWithOneSeparator) {
  // A root, and a path that ends in a separator, have no last element.
  EXPECT_EQ(TargetForSource("/", "/d/Backup"), "/d/Backup" SEP);
  EXPECT_EQ(TargetForSource("/", "/d/Backup/"), "/d/Backup/");
  EXPECT_EQ(TargetForSource("/e/Data/Photos/", "/d/Backup"), "/d/Backup" SEP);
  EXPECT_EQ(TargetForSource("/e/Data/Photos/", "/d/Backup/"), "/d/Backup/");
}

#if QUILLMERE_NATIVE_PATHS_ARE_UTF8
TEST(CopyControllerTarget, NameBytesThatAreNotUtf8PassUnchanged) {
  EXPECT_EQ(TargetForSource("/e/na\xfe" "me", "/d/\xff"), "/d/\xff/na\xfe" "me");
}
#endif

// Two sources named alike are both listed into the same target folder; the
// controller does not rename either to keep them apart.
TEST(CopyControllerTarget, TwoSourcesWithTheSameNameShareOneTargetFolder) {
  TempDir dir;
  const fs::path first = dir.path() / "A" / "Photos";
  const fs::path second = dir.path() / "B" / "Photos";
  fs::create_directories(first);
  fs::create_directories(second);
  const auto x = PatternBytes(3000, 1);
  const auto y = PatternBytes(5000, 2);
  WriteBytes(first / "x.bin", x);
  WriteBytes(second / "y.bin", y);
  const fs::path destination = dir.path() / "dst";
  fs::create_directory(destination);

  CopyController controller(dir.File("log.txt"));
  controller.StartCopy({first.string(), second.string()}, destination.string());
  WaitForRunEnd(controller);

  ASSERT_TRUE(controller.finished);
  EXPECT_TRUE(controller.succeeded);
  EXPECT_EQ(ReadBytes(destination / "Photos" / "x.bin"), x);
  EXPECT_EQ(ReadBytes(destination / "Photos" / "y.bin"), y);
  std::vector<std::string> folderTargets;
  for (const QueueItem& item : controller.queueManager->GetItems()) {
    if (item.isDirectory) folderTargets.push_back(item.destination);
  }
  const std::string target = (destination / "Photos").string();
  EXPECT_EQ(folderTargets, (std::vector<std::string>{target, target}));
}

// A source that ends in a separator has no last element: its contents land
// directly in the destination, as those of a drive root would.
TEST(CopyControllerTarget, ContentsOfSourceEndingInSeparatorLandInDestination) {
  TempDir dir;
  const fs::path source = dir.path() / "src";
  fs::create_directories(source / "sub");
  const auto top = PatternBytes(1234, 3);
  const auto nested = PatternBytes(4321, 4);
  WriteBytes(source / "top.bin", top);
  WriteBytes(source / "sub" / "nested.bin", nested);
  const fs::path destination = dir.path() / "dst";
  fs::create_directory(destination);

  CopyController controller(dir.File("log.txt"));
  controller.StartCopy({source.string() + "/"}, destination.string());
  WaitForRunEnd(controller);

  EXPECT_TRUE(controller.succeeded);
  EXPECT_EQ(ReadBytes(destination / "top.bin"), top);
  EXPECT_EQ(ReadBytes(destination / "sub" / "nested.bin"), nested);
  EXPECT_FALSE(fs::exists(destination / "src"));
}

}  // namespace
}  // namespace quillmere
