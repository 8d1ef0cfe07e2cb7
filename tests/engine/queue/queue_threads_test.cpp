// The queue read from other threads while it is listed and run, and from
// inside its own callbacks. These tests also run under ThreadSanitizer.
#include "tests/engine/queue/run_fixture.h"

#include <atomic>
#include <thread>

namespace queue_test {
namespace {

using QueueThreads = RunTest;

// A tree of many small files and a few of several blocks.
uint64_t MakeTree(const fs::path& root, int folders, int filesPerFolder) {
  uint64_t total = 0;
  for (int folder = 0; folder < folders; ++folder) {
    const fs::path dir = root / ("d" + std::to_string(folder));
    fs::create_directories(dir);
    for (int file = 0; file < filesPerFolder; ++file) {
      const size_t size = static_cast<size_t>(100 + 37 * file + folder);
      testing_support::WriteBytes(dir / ("f" + std::to_string(file)),
                                  testing_support::PatternBytes(size, folder * 100 + file));
      total += size;
    }
  }
  return total;
}

// What one reader saw must hold in every copy taken during a run.
struct ReaderChecks {
  std::string failures;
  uint64_t lastProcessed = 0;
  unsigned rounds = 0;

  void Look(const quillmere::QueueManager& queue, size_t itemCount) {
    const quillmere::QueueStats stats = queue.GetStats();
    const std::vector<quillmere::QueueItem> items = queue.GetItems();
    const std::vector<ItemStatus> statuses = queue.GetStatuses();
    const std::vector<std::string> messages = queue.GetMessages();
    ++rounds;
    if (items.size() != itemCount || statuses.size() != itemCount ||
        messages.size() != itemCount) {
      failures += "a sequence changed length during the run\n";
    }
    if (stats.succeededFiles + stats.skippedFiles > stats.totalFiles) {
      failures += "more files finished than listed\n";
    }
    if (stats.processedBytes > stats.totalBytes || stats.processedBytes < lastProcessed) {
      failures += "processed bytes out of range or going back\n";
    }
    lastProcessed = stats.processedBytes;
  }
};

TEST_F(QueueThreads, GettersFromAnotherThreadSeeWholeCopiesWhileTheRunGoesOn) {
  uint64_t total = MakeTree(source, 6, 15);
  testing_support::WriteBytes(source / "big.bin",
                              testing_support::PatternBytes(9 * 1024 * 1024, 9));
  total += 9 * 1024 * 1024;
  auto queue = MakeQueue();
  ASSERT_TRUE(queue->AddSource(quillmere::PathToUtf8(source), quillmere::PathToUtf8(destination)));
  const size_t itemCount = queue->GetItems().size();
  std::atomic<bool> done{false};
  ReaderChecks checks;

  std::thread reader([&] {
    while (!done.load()) checks.Look(*queue, itemCount);
    checks.Look(*queue, itemCount);
  });
  const bool result = queue->Run();
  done = true;
  reader.join();

  EXPECT_TRUE(result);
  EXPECT_EQ(checks.failures, "");
  EXPECT_GT(checks.rounds, 0u);
  const quillmere::QueueStats stats = queue->GetStats();
  EXPECT_EQ(stats.succeededFiles, 91u);
  EXPECT_EQ(stats.processedBytes, total);
  EXPECT_EQ(queue->GetStatuses(), std::vector<ItemStatus>(itemCount, ItemStatus::Done));
}

// The mutex is free while a callback runs, so callbacks may read the queue.
TEST_F(QueueThreads, CallbacksMayReadTheQueueFromInsideTheRun) {
  MakeTree(source, 2, 3);
  quillmere::QueueManager* self = nullptr;
  size_t reportCount = 0;
  size_t runningSeen = 0;
  auto progress = [&](const quillmere::ProgressInfo&) {
    ++reportCount;
    for (ItemStatus status : self->GetStatuses()) {
      runningSeen += status == ItemStatus::Running ? 1 : 0;
    }
    self->GetItems();
    self->GetMessages();
    self->GetStats();
  };
  quillmere::QueueStats seenInError;
  std::vector<std::string> messagesInError;
  auto reading = [&](const quillmere::CopyError&) {
    seenInError = self->GetStats();
    messagesInError = self->GetMessages();
    return quillmere::SKIP;
  };
  quillmere::QueueManager queue(progress, reading, &flags, quillmere::PathToUtf8(logPath));
  self = &queue;
  ASSERT_TRUE(queue.AddSource(quillmere::PathToUtf8(source), quillmere::PathToUtf8(destination)));
  queue.AddItem(File(source / "missing.bin", destination / "missing.bin", 0));

  EXPECT_TRUE(queue.Run());

  EXPECT_GE(reportCount, 6u);
  EXPECT_EQ(runningSeen, reportCount) << "each report sees exactly its own item Running";
  EXPECT_EQ(seenInError.succeededFiles, 6u);
  EXPECT_EQ(messagesInError.size(), queue.GetItems().size());
  EXPECT_EQ(queue.GetStats().skippedFiles, 1u);
}

// Copies taken while another thread lists may differ in length from each
// other, but each is whole and only grows.
TEST_F(QueueThreads, GettersWhileSourcesAreListedSeeTheQueueGrow) {
  MakeTree(source, 10, 20);
  auto queue = MakeQueue();
  std::atomic<bool> done{false};
  std::string failures;
  size_t lastLength = 0;

  std::thread reader([&] {
    while (!done.load()) {
      const std::vector<quillmere::QueueItem> items = queue->GetItems();
      const std::vector<ItemStatus> statuses = queue->GetStatuses();
      if (items.size() < lastLength) failures += "the queue shrank\n";
      for (const quillmere::QueueItem& item : items) {
        if (item.source.empty() || item.destination.empty()) failures += "a torn item\n";
      }
      for (ItemStatus status : statuses) {
        if (status != ItemStatus::Pending) failures += "a listed item is not Pending\n";
      }
      lastLength = items.size();
    }
  });
  const bool listed =
      queue->AddSource(quillmere::PathToUtf8(source), quillmere::PathToUtf8(destination));
  done = true;
  reader.join();

  EXPECT_TRUE(listed);
  EXPECT_EQ(failures, "");
  EXPECT_EQ(queue->GetItems().size(), 1u + 10u + 200u);
  EXPECT_EQ(queue->GetStats().totalFiles, 200u);
}

}  // namespace
}  // namespace queue_test
