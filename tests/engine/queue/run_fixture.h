// A queue manager whose callbacks record every report and failure, over a
// temporary folder with the error log beside the source and destination.
#pragma once

#include "engine/queue_manager.h"
#include "engine/text.h"
#include "platform/win32.h"
#include "tests/engine/queue/queue_test_support.h"
#include "tests/support/test_support.h"

#include "platform/testing/fault_injection.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace queue_test {

using quillmere::ItemStatus;

class RunTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetFaults(); }
  void TearDown() override { ResetFaults(); }

  static void ResetFaults() {
    fault_injection::ResetAll();
  }

  // A queue whose callbacks record into this fixture; either may be left out.
  std::unique_ptr<quillmere::QueueManager> MakeQueue(bool withProgress = true,
                                                     bool withErrors = true) {
    quillmere::ProgressCallback progress;
    quillmere::ErrorCallback errorCallback;
    if (withProgress) {
      progress = [this](const quillmere::ProgressInfo& info) {
        reports.push_back(info);
        if (onReport) onReport(info);
      };
    }
    if (withErrors) {
      errorCallback = [this](const quillmere::CopyError& error) {
        errors.push_back(error);
        return answer;
      };
    }
    return std::make_unique<quillmere::QueueManager>(progress, errorCallback, &flags,
                                                     quillmere::PathToUtf8(logPath));
  }

  // Pattern bytes in a new file (parents made first); returns the bytes.
  static std::vector<uint8_t> MakeFile(const fs::path& path, size_t size, uint32_t seed = 5) {
    fs::create_directories(path.parent_path());
    std::vector<uint8_t> bytes = testing_support::PatternBytes(size, seed);
    testing_support::WriteBytes(path, bytes);
    return bytes;
  }

  static quillmere::QueueItem File(const fs::path& from, const fs::path& to, uint64_t size) {
    return quillmere::QueueItem{quillmere::PathToUtf8(from), quillmere::PathToUtf8(to), size,
                                false};
  }

  static quillmere::QueueItem Folder(const fs::path& from, const fs::path& to) {
    return quillmere::QueueItem{quillmere::PathToUtf8(from), quillmere::PathToUtf8(to), 0, true};
  }

  static void ExpectRunCounters(const quillmere::QueueStats& stats, uint64_t succeeded,
                                uint64_t skipped, uint64_t processed) {
    EXPECT_EQ(stats.succeededFiles, succeeded);
    EXPECT_EQ(stats.skippedFiles, skipped);
    EXPECT_EQ(stats.processedBytes, processed);
  }

  std::vector<LogLine> Log() const { return ReadLog(logPath); }

  testing_support::TempDir tmp;
  const fs::path source = tmp.path() / "src";
  const fs::path destination = tmp.path() / "dest";
  const fs::path logPath = tmp.path() / "quillmere_errors.log";
  quillmere::ControlFlags flags;
  std::vector<quillmere::ProgressInfo> reports;
  std::vector<quillmere::CopyError> errors;
  quillmere::ErrorAction answer = quillmere::SKIP;
  std::function<void(const quillmere::ProgressInfo&)> onReport;
};

}  // namespace queue_test
