// A queue manager over a temporary folder, for listing tests: a source tree
// under src/, a destination dest/, and the error log beside them.
#pragma once

#include "engine/queue_manager.h"
#include "engine/text.h"
#include "tests/engine/queue/queue_test_support.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace queue_test {

class ListingTest : public ::testing::Test {
 protected:
  bool Add(const fs::path& from, const fs::path& to) {
    return queue.AddSource(quillmere::PathToUtf8(from), quillmere::PathToUtf8(to));
  }

  std::vector<std::string> Items() const { return Describe(queue.GetItems()); }
  std::vector<LogLine> Log() const { return ReadLog(logPath); }

  // A file of size pattern bytes; its parent folders are made first.
  static void MakeFile(const fs::path& path, size_t size, uint32_t seed = 3) {
    fs::create_directories(path.parent_path());
    testing_support::WriteBytes(path, testing_support::PatternBytes(size, seed));
  }

  // The names of a folder in the order the file system lists them.
  static std::vector<fs::path> ListingOrder(const fs::path& folder) {
    std::vector<fs::path> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
      names.push_back(entry.path().filename());
    }
    return names;
  }

  testing_support::TempDir tmp;
  const fs::path source = tmp.path() / "src";
  const fs::path destination = tmp.path() / "dest";
  const fs::path logPath = tmp.path() / "quillmere_errors.log";
  quillmere::ControlFlags flags;
  quillmere::QueueManager queue{nullptr, nullptr, &flags, quillmere::PathToUtf8(logPath)};
};

}  // namespace queue_test
