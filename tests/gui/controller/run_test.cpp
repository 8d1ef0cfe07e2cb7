// Runs through the controller: what lands on disk, what the queue and the
// shared records show, and how a start behaves before, during and after a run.
#include "gui/copy_controller.h"
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

// A folder source "Photos" (two files, one in a subfolder) and a file source
// "notes.bin", with an empty destination folder.
struct TwoSources {
  TempDir dir;
  fs::path folder = dir.path() / "src" / "Photos";
  fs::path file = dir.path() / "src" / "notes.bin";
  fs::path destination = dir.path() / "dst";
  std::vector<uint8_t> a = PatternBytes(70000, 11);
  std::vector<uint8_t> b = PatternBytes(1, 12);
  std::vector<uint8_t> notes = PatternBytes(9000, 13);

  TwoSources() {
    fs::create_directories(folder / "sub");
    fs::create_directories(destination);
    WriteBytes(folder / "a.bin", a);
    WriteBytes(folder / "sub" / "b.bin", b);
    WriteBytes(file, notes);
  }
  std::vector<std::string> Sources() const { return {folder.string(), file.string()}; }
  uint64_t TotalBytes() const { return a.size() + b.size() + notes.size(); }
};

TEST(CopyControllerRun, CopiesTwoSourcesAndShowsTheRunThroughTheQueue) {
  TwoSources job;
  CopyController controller(job.dir.File("log.txt"));
  controller.StartCopy(job.Sources(), job.destination.string());
  WaitForRunEnd(controller);

  EXPECT_TRUE(controller.finished);
  EXPECT_TRUE(controller.succeeded);
  EXPECT_EQ(ReadBytes(job.destination / "Photos" / "a.bin"), job.a);
  EXPECT_EQ(ReadBytes(job.destination / "Photos" / "sub" / "b.bin"), job.b);
  EXPECT_EQ(ReadBytes(job.destination / "notes.bin"), job.notes);
  EXPECT_EQ(ReadBytes(job.folder / "a.bin"), job.a);
  EXPECT_EQ(ReadBytes(job.file), job.notes);

  const QueueStats stats = controller.queueManager->GetStats();
  EXPECT_EQ(stats.totalFiles, 3u);
  EXPECT_EQ(stats.totalBytes, job.TotalBytes());
  EXPECT_EQ(stats.succeededFiles, 3u);
  EXPECT_EQ(stats.skippedFiles, 0u);
  for (ItemStatus status : controller.queueManager->GetStatuses()) {
    EXPECT_EQ(status, ItemStatus::Done);
  }
  // The items keep list order: the folder and its tree, then the file.
  const std::vector<QueueItem> items = controller.queueManager->GetItems();
  ASSERT_EQ(items.size(), 5u);
  EXPECT_EQ(items.front().destination, (job.destination / "Photos").string());
  EXPECT_EQ(items.back().source, job.file.string());
  EXPECT_EQ(items.back().destination, (job.destination / "notes.bin").string());

  // The last report of the run is the last file's end.
  const ProgressInfo last = ProgressSnapshot();
  EXPECT_EQ(last.currentFile, job.file.string());
  EXPECT_EQ(last.totalBytes, job.TotalBytes());
  EXPECT_EQ(last.totalCopied, job.TotalBytes());
  EXPECT_EQ(LastErrorSnapshot(), "");
}

TEST(CopyControllerRun, SecondStartBeginsBlankAndCountsOnlyItsOwnSources) {
  TwoSources job;
  Gate atFirstListing;
  bool holdSecondRun = false;
  ScopedListingHook hook([&](size_t index, const std::string&) {
    if (holdSecondRun && index == 0) atFirstListing.ArriveAndWait();
  });
  CopyController controller(job.dir.File("log.txt"));
  controller.StartCopy(job.Sources(), job.destination.string());
  WaitForRunEnd(controller);
  ASSERT_TRUE(controller.succeeded);
  SetLastErrorForTest("left over from the first run");
  const QueueManager* firstQueue = controller.queueManager.get();

  holdSecondRun = true;  // read by the next worker, which starts after this
  const fs::path other = job.dir.path() / "other.bin";
  const auto otherBytes = PatternBytes(2500, 14);
  WriteBytes(other, otherBytes);
  const fs::path destination2 = job.dir.path() / "dst2";
  fs::create_directory(destination2);
  controller.StartCopy({other.string()}, destination2.string());

  atFirstListing.WaitUntilReached();
  EXPECT_TRUE(controller.running);
  EXPECT_FALSE(controller.finished);
  EXPECT_NE(controller.queueManager.get(), firstQueue);
  const ProgressInfo blank = ProgressSnapshot();
  EXPECT_EQ(blank.currentFile, "");
  EXPECT_EQ(blank.totalBytes, 0u);
  EXPECT_EQ(blank.totalCopied, 0u);
  EXPECT_EQ(LastErrorSnapshot(), "");
  atFirstListing.Open();
  WaitForRunEnd(controller);

  EXPECT_TRUE(controller.succeeded);
  const QueueStats stats = controller.queueManager->GetStats();
  EXPECT_EQ(stats.totalFiles, 1u);
  EXPECT_EQ(stats.totalBytes, otherBytes.size());
  EXPECT_EQ(ReadBytes(destination2 / "other.bin"), otherBytes);
}

TEST(CopyControllerRun, StartWhileRunningChangesNothing) {
  TwoSources job;
  Gate atFirstListing;
  ScopedListingHook hook([&](size_t index, const std::string&) {
    if (index == 0) atFirstListing.ArriveAndWait();
  });
  CopyController controller(job.dir.File("log.txt"));
  controller.StartCopy({job.file.string()}, job.destination.string());
  atFirstListing.WaitUntilReached();

  const QueueManager* queue = controller.queueManager.get();
  ProgressInfo marker;
  marker.currentFile = "marker";
  marker.totalBytes = 77;
  SetProgressForTest(marker);
  SetLastErrorForTest("marker error");
  controller.controlFlags.paused = true;
  controller.controlFlags.skipRequested = true;

  controller.StartCopy({job.folder.string()}, (job.dir.path() / "elsewhere").string());

  EXPECT_EQ(controller.queueManager.get(), queue);
  EXPECT_TRUE(controller.running);
  EXPECT_FALSE(controller.finished);
  EXPECT_TRUE(controller.controlFlags.paused);
  EXPECT_TRUE(controller.controlFlags.skipRequested);
  EXPECT_EQ(ProgressSnapshot().currentFile, "marker");
  EXPECT_EQ(ProgressSnapshot().totalBytes, 77u);
  EXPECT_EQ(LastErrorSnapshot(), "marker error");

  controller.controlFlags.paused = false;
  controller.controlFlags.skipRequested = false;
  atFirstListing.Open();
  WaitForRunEnd(controller);
  EXPECT_TRUE(controller.succeeded);
  const std::vector<QueueItem> items = controller.queueManager->GetItems();
  ASSERT_EQ(items.size(), 1u);  // the dropped start listed nothing
  EXPECT_EQ(items[0].source, job.file.string());
  EXPECT_FALSE(fs::exists(job.dir.path() / "elsewhere"));
}

// "Skip This File" pressed after the last block of a run must not reach the
// first file of the next one.
TEST(CopyControllerRun, SkipRequestLeftFromLastRunDoesNotSkipNextRunsFirstFile) {
  TwoSources job;
  CopyController controller(job.dir.File("log.txt"));
  controller.StartCopy({job.file.string()}, job.destination.string());
  WaitForRunEnd(controller);
  ASSERT_TRUE(controller.succeeded);
  controller.controlFlags.skipRequested = true;

  const fs::path destination2 = job.dir.path() / "dst2";
  fs::create_directory(destination2);
  controller.StartCopy({job.file.string()}, destination2.string());
  WaitForRunEnd(controller);

  EXPECT_TRUE(controller.succeeded);
  EXPECT_EQ(controller.queueManager->GetStatuses(), std::vector<ItemStatus>{ItemStatus::Done});
  EXPECT_EQ(controller.queueManager->GetStats().skippedFiles, 0u);
  EXPECT_EQ(ReadBytes(destination2 / "notes.bin"), job.notes);
}

}  // namespace
}  // namespace quillmere
