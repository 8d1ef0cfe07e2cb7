// The main panel driven headless: which blocks are enabled when, what its
// buttons do to the panel state and the controller, and what it shows of
// the worker's progress, outcome, last error and queue.
#include "tests/gui/panel/main_panel_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace quillmere {
namespace {

TEST_F(MainPanelTest, BeforeAnyRunShowsZerosAndNoQueue) {
  panel.Frame();
  EXPECT_TRUE(panel.Shows("Quillmere - High-Performance File Copy"));
  EXPECT_TRUE(panel.Shows("Total progress: 0.0 B / 0.0 B"));
  EXPECT_TRUE(panel.Shows("Current file: \n"));
  EXPECT_TRUE(panel.Shows("Speed: 0.0 MB/s"));
  EXPECT_TRUE(panel.Shows("Queue: 0/0 files succeeded, 0 skipped"));
  EXPECT_TRUE(panel.Shows("(no queue yet - enter paths and click Start)"));
  EXPECT_FALSE(panel.Shows("Queue completed."));
  EXPECT_FALSE(panel.Shows("Stopped"));
  EXPECT_FALSE(panel.Shows("Last error"));

  EXPECT_TRUE(panel.IsButtonEnabled("Add Files..."));
  EXPECT_TRUE(panel.IsButtonEnabled("Add Folders..."));
  EXPECT_TRUE(panel.IsButtonEnabled("Choose Folder...##dst"));
  EXPECT_FALSE(panel.IsButtonEnabled("Start"));
  EXPECT_FALSE(panel.IsButtonEnabled("Remove Selected"));
  EXPECT_FALSE(panel.IsButtonEnabled("Clear All"));
  ExpectBlock(kRunButtons, false);
}

TEST_F(MainPanelTest, StartNeedsSourcesAndADestination) {
  state.sources = {"/data/a"};
  panel.Frame();
  EXPECT_FALSE(panel.IsButtonEnabled("Start")) << "no destination";

  state.sources.clear();
  SetDestination("/backup");
  panel.Frame();
  EXPECT_FALSE(panel.IsButtonEnabled("Start")) << "no sources";

  // The run lists what it received and is cancelled before it copies, so
  // nothing lands under the working folder.
  const std::string source = dir.File("a.bin");
  testing_support::WriteBytes(source, testing_support::PatternBytes(10, 3));
  hook = std::make_unique<ScopedListingHook>(
      [this](size_t, const std::string&) { controller.controlFlags.cancelRequested = true; });
  state.sources = {source};
  SetDestination("   ");  // only the first byte is tested
  panel.Frame();
  EXPECT_TRUE(panel.IsButtonEnabled("Start"));
  panel.ClickButton("Start");  // the pressed button is the only way a run starts here
  panel.FramesUntilRunEnds();
  ASSERT_NE(controller.queueManager, nullptr);
  const std::vector<QueueItem> items = controller.queueManager->GetItems();
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].source, source);
  EXPECT_EQ(items[0].destination, TargetForSource(source, "   "));
}

TEST_F(MainPanelTest, RowClicksSelectAndRemoveOrClearResetTheSelection) {
  state.sources = {"/data/a", "/data/b", "/data/c"};
  panel.Frame();
  panel.Click(Kind::Selectable, "/data/b");
  EXPECT_EQ(state.selectedSource, 1);
  EXPECT_TRUE(panel.IsButtonEnabled("Remove Selected"));

  panel.ClickButton("Remove Selected");
  EXPECT_EQ(state.sources, (Paths{"/data/a", "/data/c"}));
  EXPECT_EQ(state.selectedSource, -1);
  panel.Frame();
  EXPECT_FALSE(panel.IsButtonEnabled("Remove Selected"));

  panel.Click(Kind::Selectable, "/data/c");
  EXPECT_EQ(state.selectedSource, 1);
  panel.ClickButton("Clear All");
  EXPECT_TRUE(state.sources.empty());
  EXPECT_EQ(state.selectedSource, -1);
  panel.Frame();
  EXPECT_FALSE(panel.IsButtonEnabled("Clear All"));
}

TEST_F(MainPanelTest, SourcePathHoldingHashesIsShownWholeAndSelectable) {
  state.sources = {"/data/a##b", "/data/plain"};
  panel.Frame();
  EXPECT_TRUE(panel.Shows("/data/a##b"));
  EXPECT_TRUE(panel.Shows("/data/plain"));
  panel.Click(Kind::Selectable, "##row");
  EXPECT_EQ(state.selectedSource, 0);
}

TEST_F(MainPanelTest, StartCopiesTheTreeAndShowsTheCompletedQueue) {
  const std::string source = MakeSourceTree();
  state.sources = {source};
  SetDestination(dir.File("out"));
  panel.Frame();
  panel.ClickButton("Start");
  panel.FramesUntilRunEnds();

  EXPECT_TRUE(panel.Shows("Queue completed."));
  EXPECT_FALSE(panel.Shows("Stopped"));
  EXPECT_TRUE(panel.Shows("Queue: 2/2 files succeeded, 0 skipped"));
  EXPECT_TRUE(panel.Shows("Total progress: 68.4 KB / 68.4 KB"));
  EXPECT_EQ(testing_support::ReadBytes(dir.path() / "out" / "Photos" / "a.bin"),
            testing_support::PatternBytes(70000, 1));
  EXPECT_EQ(testing_support::ReadBytes(dir.path() / "out" / "Photos" / "inner" / "b.bin"),
            testing_support::PatternBytes(5, 2));
  EXPECT_NE(panel.Find(Kind::Text, "Done"), nullptr);
  EXPECT_NE(panel.Find(Kind::Text, "-"), nullptr) << "a folder row has no size";
  EXPECT_EQ(state.sources, (Paths{source}));
  EXPECT_EQ(std::string(state.destinationBuffer), dir.File("out"));
  ExpectBlock(kSetUpButtons, true);
  ExpectBlock(kRunButtons, false);
}

TEST_F(MainPanelTest, WhileRunningOnlyTheRunBlockIsEnabledAndItDrivesTheFlags) {
  HoldWorkerBeforeListing();
  state.sources = {MakeSourceTree()};
  SetDestination(dir.File("out"));
  panel.Frame();
  panel.ClickButton("Start");
  ExpectBlock(kRunButtons, false);  // the frame of the press read running before it
  gate.WaitUntilReached();

  panel.Frame();
  ExpectBlock(kSetUpButtons, false);
  EXPECT_TRUE(panel.IsDisabled(Kind::Selectable, state.sources[0]));
  ExpectBlock(kRunButtons, true);

  panel.ClickButton("Pause");
  EXPECT_TRUE(controller.controlFlags.paused);
  panel.Frame();  // the label follows the flag from the next frame on
  panel.ClickButton("Resume");
  EXPECT_FALSE(controller.controlFlags.paused);
  panel.ClickButton("Skip This File");
  EXPECT_TRUE(controller.controlFlags.skipRequested);
  panel.Frame();
  panel.ClickButton("Pause");
  panel.ClickButton("Cancel");
  EXPECT_TRUE(controller.controlFlags.cancelRequested);

  gate.Open();
  panel.FramesUntilRunEnds();
  EXPECT_TRUE(panel.Shows("Stopped (cancelled or error)."));
  EXPECT_FALSE(panel.Shows("Queue completed."));
  ExpectBlock({"Add Files...", "Start"}, true);
  EXPECT_FALSE(panel.IsButtonEnabled("Resume")) << "a run that ended paused still reads Resume";
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "out" / "Photos" / "a.bin"));
}

TEST_F(MainPanelTest, OnlySkippedRowsWithAMessageHaveATooltip) {
  auto queue = std::make_unique<QueueManager>(OnCopyProgress, OnCopyError, &controller.controlFlags,
                                              controller.errorLogPath);
  queue->AddItem({"/s/denied", "/d/denied", 10, false});
  queue->AddItem({"/s/quiet", "/d/quiet", 2048, false});
  queue->AddItem({"/s/done", "/d/done", 0, false});
  queue->AddItem({"/s/folder", "/d/folder", 0, true});
  queue->SetItemStatus(0, ItemStatus::Skipped);
  queue->SetItemMessage(0, "Access is denied.");
  queue->SetItemStatus(1, ItemStatus::Skipped);
  queue->SetItemStatus(2, ItemStatus::Done);
  queue->SetItemMessage(2, "kept but never shown");
  controller.queueManager = std::move(queue);
  panel.Frame();

  EXPECT_NE(panel.Find(Kind::Text, "10.0 B"), nullptr);
  EXPECT_NE(panel.Find(Kind::Text, "2.0 KB"), nullptr);
  EXPECT_NE(panel.Find(Kind::Text, "0.0 B"), nullptr);
  EXPECT_NE(panel.Find(Kind::Text, "-"), nullptr);
  EXPECT_NE(panel.Find(Kind::Text, "Pending"), nullptr);

  panel.Hover(Kind::Text, "Skipped", 0);
  EXPECT_EQ(panel.Tooltips(), (Paths{"Access is denied."}));
  panel.Hover(Kind::Text, "Skipped", 1);
  EXPECT_TRUE(panel.Tooltips().empty()) << "no message, no tooltip";
  panel.Hover(Kind::Text, "Done");
  EXPECT_TRUE(panel.Tooltips().empty()) << "only Skipped rows";
}

TEST_F(MainPanelTest, LastErrorIsShownWithTheLogPath) {
  SetLastErrorForTest("/s/a.bin: Access is denied.");
  panel.Frame();
  EXPECT_TRUE(panel.Shows("Last error: /s/a.bin: Access is denied."));
  EXPECT_TRUE(panel.Shows("(full log: " + controller.errorLogPath + ")"));
}

TEST_F(MainPanelTest, TotalBarMeasuresAgainstTheQueueTotalNotTheReportsOwn) {
  testing_support::WriteBytes(dir.path() / "f.bin", testing_support::PatternBytes(100, 3));
  controller.queueManager = std::make_unique<QueueManager>(OnCopyProgress, OnCopyError,
                                                           &controller.controlFlags, controller.errorLogPath);
  controller.queueManager->AddSource(dir.File("f.bin"), dir.File("copy.bin"));
  ProgressInfo progress;
  progress.currentFile = "/s/f.bin";
  progress.totalCopied = 25;
  progress.totalBytes = 999;
  progress.fileCopied = 5;
  progress.fileSize = 20;
  progress.speed = 12.34;
  SetProgressForTest(progress);
  panel.Frame();

  EXPECT_TRUE(panel.Shows("Total progress: 25.0 B / 100.0 B"));
  EXPECT_TRUE(panel.Shows("Current file: /s/f.bin"));
  EXPECT_TRUE(panel.Shows("Speed: 12.3 MB/s"));
  ASSERT_NE(panel.Find(Kind::ProgressBar, "", 1), nullptr);
  EXPECT_FLOAT_EQ(panel.Find(Kind::ProgressBar, "", 0)->fraction, 0.25f);
  EXPECT_FLOAT_EQ(panel.Find(Kind::ProgressBar, "", 1)->fraction, 0.25f);

  progress.fileSize = 0;  // a file of 0 bytes: the file bar stays at 0
  SetProgressForTest(progress);
  controller.queueManager = std::make_unique<QueueManager>(OnCopyProgress, OnCopyError,
                                                           &controller.controlFlags, controller.errorLogPath);
  panel.Frame();  // a queue total of 0: the total bar stays at 0
  EXPECT_FLOAT_EQ(panel.Find(Kind::ProgressBar, "", 0)->fraction, 0.0f);
  EXPECT_FLOAT_EQ(panel.Find(Kind::ProgressBar, "", 1)->fraction, 0.0f);
}

}  // namespace
}  // namespace quillmere
