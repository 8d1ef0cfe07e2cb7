// Running a queue: the stop points, failures the queue finds itself, the
// wrappers between the core engine and the front end, and whole-tree copies.
#include "tests/engine/queue/run_fixture.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace queue_test {
namespace {

using QueueRun = RunTest;
using std::chrono::milliseconds;

TEST_F(QueueRun, EmptyQueueSucceedsAtOnceEvenWhenCancelled) {
  flags.cancelRequested = true;
  auto queue = MakeQueue();

  EXPECT_TRUE(queue->Run());

  ExpectRunCounters(queue->GetStats(), 0, 0, 0);
  EXPECT_TRUE(reports.empty());
  EXPECT_TRUE(errors.empty());
}

TEST_F(QueueRun, CancelBeforeTheRunLeavesEveryItemPending) {
  MakeFile(source / "a.bin", 100);
  MakeFile(source / "sub" / "b.bin", 200);
  auto queue = MakeQueue();
  ASSERT_TRUE(queue->AddSource(quillmere::PathToUtf8(source), quillmere::PathToUtf8(destination)));
  flags.cancelRequested = true;

  EXPECT_FALSE(queue->Run());

  EXPECT_EQ(queue->GetStatuses(), std::vector<ItemStatus>(4, ItemStatus::Pending));
  const quillmere::QueueStats stats = queue->GetStats();
  ExpectRunCounters(stats, 0, 0, 0);
  EXPECT_EQ(stats.totalFiles, 2u);
  EXPECT_EQ(stats.totalBytes, 300u);
  EXPECT_FALSE(fs::exists(destination));
}

TEST_F(QueueRun, PauseHoldsEveryItemUntilACancelStopsTheRun) {
  MakeFile(source / "a.bin", 100);
  auto queue = MakeQueue();
  queue->AddItem(File(source / "a.bin", destination / "a.bin", 100));
  flags.paused = true;
  bool result = true;

  std::thread runner([&] { result = queue->Run(); });
  std::this_thread::sleep_for(milliseconds(150));
  EXPECT_EQ(queue->GetStatuses(), std::vector<ItemStatus>{ItemStatus::Pending});
  flags.cancelRequested = true;
  runner.join();

  EXPECT_FALSE(result);
  EXPECT_EQ(queue->GetStatuses(), std::vector<ItemStatus>{ItemStatus::Pending});
  EXPECT_FALSE(fs::exists(destination / "a.bin"));
}

// The cancel arrives while b is copied: the run stops right after that copy,
// b stays Running and uncounted, c is never reached. A cancel during the
// last copy, c's, fails the run all the same, though no item is left.
TEST_F(QueueRun, CancelDuringACopyStopsAfterItLeavingTheItemRunning) {
  const std::vector<std::string> names{"a.bin", "b.bin", "c.bin"};
  for (size_t i = 0; i < names.size(); ++i) {
    MakeFile(source / names[i], 1000, static_cast<uint32_t>(1 + i));
  }
  for (const size_t cancelled : {size_t{1}, size_t{2}}) {
    SCOPED_TRACE(names[cancelled]);
    flags.cancelRequested = false;
    fs::remove_all(destination);
    fs::create_directories(destination);
    auto queue = MakeQueue();
    for (const std::string& name : names) {
      queue->AddItem(File(source / name, destination / name, 1000));
    }
    const std::string during = quillmere::PathToUtf8(source / names[cancelled]);
    onReport = [this, during](const quillmere::ProgressInfo& info) {
      if (info.currentFile == during) flags.cancelRequested = true;
    };

    EXPECT_FALSE(queue->Run());

    std::vector<ItemStatus> expected(names.size(), ItemStatus::Pending);
    std::fill_n(expected.begin(), cancelled, ItemStatus::Done);
    expected[cancelled] = ItemStatus::Running;
    EXPECT_EQ(queue->GetStatuses(), expected);
    ExpectRunCounters(queue->GetStats(), cancelled, 0, 1000 * cancelled);
    EXPECT_EQ(fs::exists(destination / "c.bin"), cancelled == 2);
  }
}

TEST_F(QueueRun, FolderThatCannotBeMadeIsLoggedAndStillDone) {
  const fs::path blocker = tmp.path() / "blocker";
  MakeFile(blocker, 1);
  const std::vector<uint8_t> bytes = MakeFile(source / "after.bin", 50);
  auto queue = MakeQueue();
  queue->AddItem(Folder(source, blocker / "sub"));
  queue->AddItem(File(source / "after.bin", destination / "after.bin", 50));

  EXPECT_TRUE(queue->Run());

  EXPECT_EQ(queue->GetStatuses(), (std::vector<ItemStatus>{ItemStatus::Done, ItemStatus::Done}));
  const std::vector<std::string> messages = queue->GetMessages();
  EXPECT_FALSE(messages[0].empty());
  EXPECT_EQ(messages[1], "");
  ExpectRunCounters(queue->GetStats(), 1, 0, 50);
  EXPECT_TRUE(errors.empty()) << "the front end must not hear of it";
  const std::vector<LogLine> log = Log();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].stage, "CREATE_DIR");
  EXPECT_EQ(log[0].action, "SKIP");
  EXPECT_EQ(log[0].code, static_cast<long>(ERROR_PATH_NOT_FOUND)) << "a file stands in the way";
  EXPECT_EQ(log[0].file, quillmere::PathToUtf8(blocker / "sub"));
  EXPECT_EQ(log[0].message, FileSystemMessage(std::errc::not_a_directory, ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(log[0].message, messages[0]);
  EXPECT_EQ(testing_support::ReadBytes(destination / "after.bin"), bytes);
}

TEST_F(QueueRun, FileWhoseFolderCannotBeMadeIsSkippedCountedAndNotCopied) {
  const fs::path blocker = tmp.path() / "blocker";
  MakeFile(blocker, 1);
  MakeFile(source / "f.bin", 100);
  const fs::path target = blocker / "sub" / "f.bin";
  auto queue = MakeQueue();
  queue->AddItem(File(source / "f.bin", target, 100));

  EXPECT_TRUE(queue->Run());

  EXPECT_EQ(queue->GetStatuses(), std::vector<ItemStatus>{ItemStatus::Skipped});
  ExpectRunCounters(queue->GetStats(), 0, 1, 100);
  EXPECT_TRUE(errors.empty());
  const std::vector<LogLine> log = Log();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].stage, "CREATE_DIR");
  EXPECT_EQ(log[0].file, quillmere::PathToUtf8(target)) << "the file's path, not the folder's";
  EXPECT_EQ(log[0].message, queue->GetMessages()[0]);
  EXPECT_TRUE(reports.empty()) << "the file must not reach the core engine";
}

TEST_F(QueueRun, BareFileNameAsDestinationIsSkippedWithoutACopy) {
  MakeFile(source / "f.bin", 100);
  const fs::path work = tmp.path() / "work";
  fs::create_directories(work);
  CurrentFolder inWork(work);
  auto queue = MakeQueue();
  queue->AddItem(File(source / "f.bin", "copy.bin", 100));

  EXPECT_TRUE(queue->Run());

  EXPECT_EQ(queue->GetStatuses(), std::vector<ItemStatus>{ItemStatus::Skipped});
  ExpectRunCounters(queue->GetStats(), 0, 1, 100);
  const std::vector<LogLine> log = Log();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].stage, "CREATE_DIR");
  EXPECT_EQ(log[0].file, "copy.bin");
  EXPECT_EQ(log[0].code, 3) << "a path that cannot be found, as Windows says";
  EXPECT_FALSE(fs::exists(work / "copy.bin"));
}

// A folder stands where the log should be. The queue's own failure, whose
// line is lost, goes to the front end; the engine's, which went there
// already, does not go twice.
TEST_F(QueueRun, FailuresWhoseLogLineIsLostReachTheFrontEndOnce) {
  fs::create_directories(logPath);
  const fs::path blocker = tmp.path() / "blocker";
  MakeFile(blocker, 1);
  const fs::path missing = source / "missing.bin";
  auto queue = MakeQueue();
  queue->AddItem(Folder(source, blocker / "sub"));
  queue->AddItem(File(missing, destination / "missing.bin", 40));

  EXPECT_TRUE(queue->Run());

  ASSERT_EQ(errors.size(), 2u);
  EXPECT_EQ(errors[0].stage, quillmere::CREATE_DIR);
  EXPECT_EQ(errors[0].path, quillmere::PathToUtf8(blocker / "sub"));
  EXPECT_EQ(errors[0].code, static_cast<int32_t>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(errors[0].message, queue->GetMessages()[0]);
  EXPECT_EQ(errors[1].stage, quillmere::OPEN);
  EXPECT_EQ(errors[1].path, quillmere::PathToUtf8(missing));
  EXPECT_EQ(queue->GetFailureCount(), 2u);
  EXPECT_NE(queue->ErrorLogOpenFailure(), 0);
}

TEST_F(QueueRun, ReadFailureAnsweredRetryIsRepeatedAndTheFileEndsDone) {
  const std::vector<uint8_t> bytes = MakeFile(source / "f.bin", 100 * 1024);
  auto queue = MakeQueue();
  ASSERT_TRUE(queue->AddSource(quillmere::PathToUtf8(source / "f.bin"),
                               quillmere::PathToUtf8(destination / "f.bin")));
  fs::create_directories(destination);
  answer = quillmere::RETRY;
  fault_injection::FailReads(1, 1, ERROR_READ_FAULT);

  EXPECT_TRUE(queue->Run());

  EXPECT_EQ(queue->GetStatuses(), std::vector<ItemStatus>{ItemStatus::Done});
  ExpectRunCounters(queue->GetStats(), 1, 0, 100 * 1024);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].stage, quillmere::READ);
  EXPECT_EQ(queue->GetMessages(), std::vector<std::string>{errors[0].message});
  const std::vector<LogLine> log = Log();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].stage, "READ");
  EXPECT_EQ(log[0].action, "RETRY");
  EXPECT_EQ(log[0].code, static_cast<long>(ERROR_READ_FAULT));
  EXPECT_EQ(log[0].message, errors[0].message);
  EXPECT_EQ(testing_support::ReadBytes(destination / "f.bin"), bytes);
}

// Run twice: each run counts its own files, while the failures count from
// the queue's making and the log keeps a line of each run.
TEST_F(QueueRun, WithoutCallbacksFailuresAreLoggedAsSkipAndTheRunGoesOn) {
  const std::vector<uint8_t> bytes = MakeFile(source / "good.bin", 300);
  const fs::path missing = source / "missing.bin";
  auto queue = MakeQueue(false, false);
  queue->AddItem(File(missing, destination / "missing.bin", 40));
  queue->AddItem(File(source / "good.bin", destination / "good.bin", 300));

  for (uint64_t run = 1; run <= 2; ++run) {
    SCOPED_TRACE(run);
    EXPECT_TRUE(queue->Run());
    EXPECT_EQ(queue->GetStatuses(),
              (std::vector<ItemStatus>{ItemStatus::Skipped, ItemStatus::Done}));
    ExpectRunCounters(queue->GetStats(), 1, 1, 340);
    EXPECT_EQ(queue->GetFailureCount(), run);
  }

  const std::vector<LogLine> log = Log();
  ASSERT_EQ(log.size(), 2u);
  for (const LogLine& line : log) {
    EXPECT_EQ(line.stage, "OPEN");
    EXPECT_EQ(line.action, "SKIP");
    EXPECT_EQ(line.file, quillmere::PathToUtf8(missing));
    EXPECT_EQ(queue->GetMessages()[0], line.message);
  }
  EXPECT_FALSE(queue->GetMessages()[0].empty());
  EXPECT_EQ(queue->GetMessages()[1], "");
  EXPECT_EQ(testing_support::ReadBytes(destination / "good.bin"), bytes);
}

// Every report carries the queue figures: the listed total, and the bytes of
// the files finished in this run plus the current file's. A second run
// starts its counters again from 0.
TEST_F(QueueRun, ProgressCarriesQueueTotalsAcrossFilesAndRestartsWithEachRun) {
  MakeFile(source / "one.bin", 3000, 1);
  MakeFile(source / "two.bin", 5000, 2);
  auto queue = MakeQueue();
  ASSERT_TRUE(queue->AddSource(quillmere::PathToUtf8(source), quillmere::PathToUtf8(destination)));

  for (int run = 0; run < 2; ++run) {
    reports.clear();
    ASSERT_TRUE(queue->Run());
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.front().totalCopied, reports.front().fileCopied);
    uint64_t finished = 0;
    for (size_t i = 0; i < reports.size(); ++i) {
      if (i > 0 && reports[i].currentFile != reports[i - 1].currentFile) {
        finished += reports[i - 1].fileSize;
      }
      EXPECT_EQ(reports[i].totalBytes, 8000u);
      EXPECT_EQ(reports[i].totalCopied, finished + reports[i].fileCopied);
    }
    EXPECT_EQ(reports.back().totalCopied, 8000u);
    ExpectRunCounters(queue->GetStats(), 2, 0, 8000);
  }
}

// A whole tree, with an empty folder, an empty file, a file of several
// blocks and (where names are bytes) a name that is not UTF-8.
TEST_F(QueueRun, TreeIsCopiedByteForByteWithTheSourceUnchanged) {
  std::vector<std::pair<fs::path, std::vector<uint8_t>>> files{
      {"a.txt", testing_support::PatternBytes(10, 1)},
      {fs::path("sub") / "b.txt", testing_support::PatternBytes(5, 2)},
      {fs::path("sub") / "deeper" / "zero.bin", {}},
      {"big.bin", testing_support::PatternBytes(9 * 1024 * 1024 + 123, 3)},
  };
#if QUILLMERE_NATIVE_PATHS_ARE_UTF8
  files.push_back({"caf\xe9-\xff.bin", testing_support::PatternBytes(77, 4)});
#endif
  uint64_t total = 0;
  for (const auto& file : files) {
    MakeFile(source / file.first, 0);
    testing_support::WriteBytes(source / file.first, file.second);
    total += file.second.size();
  }
  fs::create_directories(source / "empty");
  auto queue = MakeQueue();
  ASSERT_TRUE(queue->AddSource(quillmere::PathToUtf8(source), quillmere::PathToUtf8(destination)));

  EXPECT_TRUE(queue->Run());

  for (const auto& file : files) {
    EXPECT_EQ(testing_support::ReadBytes(destination / file.first), file.second)
        << file.first;
    EXPECT_EQ(testing_support::ReadBytes(source / file.first), file.second) << file.first;
  }
  EXPECT_TRUE(fs::is_directory(destination / "empty"));
  const std::vector<ItemStatus> statuses = queue->GetStatuses();
  EXPECT_EQ(statuses, std::vector<ItemStatus>(statuses.size(), ItemStatus::Done));
  ExpectRunCounters(queue->GetStats(), files.size(), 0, total);
  EXPECT_EQ(queue->GetMessages(), std::vector<std::string>(statuses.size()));
  EXPECT_TRUE(errors.empty());
  EXPECT_TRUE(Log().empty());
}

}  // namespace
}  // namespace queue_test
