// A temporary folder that serves as the program's current folder, and
// helpers to build and compare trees in it.
#pragma once

#include "engine/text.h"
#include "tests/cli/cli_output.h"
#include "tests/cli/cli_process.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace cli_test {

// Relative UTF-8 path -> contents; no contents for a folder.
using TreeSnapshot = std::map<std::string, std::optional<std::vector<uint8_t>>>;

inline TreeSnapshot Snapshot(const std::filesystem::path& root) {
  TreeSnapshot tree;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    const std::string relative = quillmere::PathToUtf8(entry.path().lexically_relative(root));
    if (entry.is_directory()) {
      tree[relative] = std::nullopt;
    } else {
      tree[relative] = testing_support::ReadBytes(entry.path());
    }
  }
  return tree;
}

// A relative path written with "/" as the program writes it after listing:
// with the platform's separator.
inline std::string Native(std::string path) {
  for (char& c : path) {
    if (c == '/') c = QUILLMERE_PATH_SEPARATOR[0];
  }
  return path;
}

class CliTest : public ::testing::Test {
 protected:
  // The program runs with the temporary folder as its current folder, so
  // relative arguments and the error log resolve there.
  CliRun Run(const std::vector<std::string>& arguments) { return RunCli(arguments, Root()); }

  const std::filesystem::path& Root() const { return temp.path(); }
  std::filesystem::path At(const std::string& relative) const {
    return Root() / quillmere::Utf8ToPath(relative);
  }
  std::filesystem::path ErrorLog() const { return Root() / "quillmere_errors.log"; }

  // Opens the temporary folder to everyone, for runs as another user.
  // False where such runs are impossible; the caller skips.
  bool PrepareUnprivilegedRun() {
    if (!CanRunUnprivileged()) return false;
    std::filesystem::permissions(Root(), std::filesystem::perms::all);
    return true;
  }

  void MakeFile(const std::string& relative, const std::vector<uint8_t>& bytes) {
    std::filesystem::create_directories(At(relative).parent_path());
    testing_support::WriteBytes(At(relative), bytes);
  }

 private:
  testing_support::TempDir temp;
};

// Every file named in lines appears in one run of lines whose file
// percentage never falls and whose last line is at 100.0; the queue total,
// where written, never falls. Returns the files in the order seen.
inline std::vector<std::string> CheckProgressPerFile(const std::vector<ProgressLine>& lines) {
  std::vector<std::string> files;
  double lastTotal = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    const ProgressLine& line = lines[i];
    const bool sameFile = !files.empty() && files.back() == line.path;
    if (!sameFile) {
      EXPECT_EQ(std::count(files.begin(), files.end(), line.path), 0)
          << line.path << " reported again after another file";
      files.push_back(line.path);
    } else {
      EXPECT_GE(line.filePercent, lines[i - 1].filePercent) << line.path;
    }
    const bool lastOfFile = i + 1 == lines.size() || lines[i + 1].path != line.path;
    if (lastOfFile) {
      EXPECT_EQ(line.filePercent, 100.0) << line.path;
    }
    EXPECT_EQ(line.pathField, PathField(line.path));
    if (line.longForm) {
      EXPECT_GE(line.totalPercent, lastTotal);
      lastTotal = line.totalPercent;
    }
  }
  return files;
}

}  // namespace cli_test
