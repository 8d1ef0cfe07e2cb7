// Folders whose listing fails: the failure is logged once and the walk goes
// on with everything that is still reachable.
#include "tests/engine/queue/listing_fixture.h"
#include "tests/engine/queue/readdir_fault.h"

#include <cerrno>
#include <system_error>

namespace queue_test {
namespace {

constexpr long kIoDeviceError = 1117;  // what EIO is reported as

class QueueListingFaults : public ListingTest {
 protected:
  void SetUp() override { readdir_fault::Reset(); }
  void TearDown() override { readdir_fault::Reset(); }

  // Checks that the armed fault really fired; a library that lists folders
  // without readdir cannot be tested this way.
  bool FaultFired() const { return readdir_fault::FailuresInjected() > 0; }

  static void ExpectIoLine(const LogLine& line, const fs::path& path) {
    EXPECT_EQ(line.stage, "OPEN");
    EXPECT_EQ(line.action, "SKIP");
    EXPECT_EQ(line.code, kIoDeviceError);
    EXPECT_EQ(line.file, quillmere::PathToUtf8(path));
    EXPECT_EQ(line.message, std::make_error_code(std::errc::io_error).message());
  }
};

// src/{a.txt, broken/{x.txt, y.txt}, z/b.txt}, with broken failing to open.
TEST_F(QueueListingFaults, SubfolderThatCannotBeOpenedIsLoggedAndTheWalkGoesOn) {
  MakeFile(source / "a.txt", 1);
  MakeFile(source / "broken" / "x.txt", 2);
  MakeFile(source / "broken" / "y.txt", 3);
  MakeFile(source / "z" / "b.txt", 4);
  std::vector<std::string> expected{FolderItem(source, destination)};
  for (const fs::path& name : ListingOrder(source)) {
    if (name == "a.txt") expected.push_back(FileItem(source / name, destination / name, 1));
    if (name == "broken") expected.push_back(FolderItem(source / name, destination / name));
    if (name == "z") {
      expected.push_back(FolderItem(source / name, destination / name));
      expected.push_back(FileItem(source / name / "b.txt", destination / name / "b.txt", 4));
    }
  }
  readdir_fault::FailListing(source / "broken", 0);

  EXPECT_TRUE(Add(source, destination));

  if (!FaultFired()) GTEST_SKIP() << "the C++ library does not list folders through readdir";
  EXPECT_EQ(Items(), expected);
  EXPECT_EQ(queue.GetStats().totalBytes, 5u);
  const std::vector<LogLine> log = Log();
  ASSERT_EQ(log.size(), 1u);
  ExpectIoLine(log[0], source / "broken");
}

// sub's listing fails after its first entry: that entry stays queued, the
// rest of sub is left out, and the folder above goes on.
TEST_F(QueueListingFaults, ListingThatBreaksOffKeepsWhatCameBeforeIt) {
  MakeFile(source / "sub" / "f1.txt", 1);
  MakeFile(source / "sub" / "f2.txt", 2);
  MakeFile(source / "sub" / "f3.txt", 3);
  MakeFile(source / "after.txt", 10);
  MakeFile(source / "z" / "b.txt", 20);
  const fs::path firstInSub = ListingOrder(source / "sub").front();
  const uint64_t firstSize = firstInSub == "f1.txt" ? 1 : firstInSub == "f2.txt" ? 2 : 3;
  std::vector<std::string> expected{FolderItem(source, destination)};
  for (const fs::path& name : ListingOrder(source)) {
    if (name == "after.txt") expected.push_back(FileItem(source / name, destination / name, 10));
    if (name == "sub") {
      expected.push_back(FolderItem(source / name, destination / name));
      expected.push_back(
          FileItem(source / name / firstInSub, destination / name / firstInSub, firstSize));
    }
    if (name == "z") {
      expected.push_back(FolderItem(source / name, destination / name));
      expected.push_back(FileItem(source / name / "b.txt", destination / name / "b.txt", 20));
    }
  }
  readdir_fault::FailListing(source / "sub", 1);

  EXPECT_TRUE(Add(source, destination));

  if (!FaultFired()) GTEST_SKIP() << "the C++ library does not list folders through readdir";
  EXPECT_EQ(Items(), expected);
  EXPECT_EQ(queue.GetStats().totalFiles, 3u);
  EXPECT_EQ(queue.GetStats().totalBytes, 30u + firstSize);
  const std::vector<LogLine> log = Log();
  ASSERT_EQ(log.size(), 1u);
  ExpectIoLine(log[0], source / "sub" / firstInSub);
}

TEST_F(QueueListingFaults, SourceFolderThatCannotBeListedKeepsItsOwnItemAndGivesFalse) {
  MakeFile(source / "a.txt", 1);
  readdir_fault::FailListing(source, 0);

  EXPECT_FALSE(Add(source, destination));

  if (!FaultFired()) GTEST_SKIP() << "the C++ library does not list folders through readdir";
  EXPECT_EQ(Items(), std::vector<std::string>{FolderItem(source, destination)});
  EXPECT_EQ(queue.GetStats().totalFiles, 0u);
  const std::vector<LogLine> log = Log();
  ASSERT_EQ(log.size(), 1u);
  ExpectIoLine(log[0], source);
}

}  // namespace
}  // namespace queue_test
