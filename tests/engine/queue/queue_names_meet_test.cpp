// Two source files of one run never meet in one destination file: the
// second is refused at its open, and the first's copy stays as written.
#include "tests/engine/queue/run_fixture.h"

#include "engine/win32_file.h"

namespace queue_test {
namespace {

void ExpectNamesMeet(const LogLine& line, const fs::path& destination) {
  EXPECT_EQ(line.stage, "OPEN");
  EXPECT_EQ(line.code, static_cast<long>(quillmere::kNamesMeetCode));
  EXPECT_EQ(line.file, quillmere::PathToUtf8(destination));
  EXPECT_EQ(line.message, quillmere::kNamesMeetMessage);
}

class QueueNamesMeet : public RunTest {
 protected:
  // Two copies to names that the destination may take as one: where it does,
  // the second is refused and the first kept; where not, both are copied.
  void ExpectOneFileOrTwo(const fs::path& first, const fs::path& second) {
    const std::vector<uint8_t> a = MakeFile(source / "a", 1000, 1);
    const std::vector<uint8_t> b = MakeFile(source / "b", 1100, 2);
    auto queue = MakeQueue();
    queue->AddItem(File(source / "a", first, 1000));
    queue->AddItem(File(source / "b", second, 1100));

    EXPECT_TRUE(queue->Run());

    EXPECT_EQ(testing_support::ReadBytes(first), a);
    const std::vector<LogLine> log = Log();
    if (log.empty()) {
      EXPECT_EQ(testing_support::ReadBytes(second), b);
    } else {
      ASSERT_EQ(log.size(), 1u);
      ExpectNamesMeet(log[0], second);
      EXPECT_TRUE(fs::equivalent(first, second)) << "refused, but not one file";
    }
  }
};

// D/x and D/y are one file under two names. Written from S/x, it may be
// written again from S/x (the same source queued twice), never from S/y.
TEST_F(QueueNamesMeet, DestinationWrittenFromOneSourceIsNotWrittenFromAnother) {
  const std::vector<uint8_t> x = MakeFile(source / "x", 3000, 1);
  const std::vector<uint8_t> y = MakeFile(source / "y", 2000, 2);
  MakeFile(destination / "x", 5000, 3);
  fs::create_hard_link(destination / "x", destination / "y");
  auto queue = MakeQueue();
  queue->AddItem(File(source / "x", destination / "x", 3000));
  queue->AddItem(File(source / "y", destination / "y", 2000));
  queue->AddItem(File(source / "x", destination / "y", 3000));

  EXPECT_TRUE(queue->Run());

  EXPECT_EQ(testing_support::ReadBytes(destination / "x"), x);
  EXPECT_EQ(testing_support::ReadBytes(source / "x"), x);
  EXPECT_EQ(testing_support::ReadBytes(source / "y"), y);
  ExpectRunCounters(queue->GetStats(), 2, 1, 8000);
  EXPECT_EQ(queue->GetStatuses(),
            (std::vector<ItemStatus>{ItemStatus::Done, ItemStatus::Skipped, ItemStatus::Done}));
  const std::vector<LogLine> log = Log();
  ASSERT_EQ(log.size(), 1u);
  ExpectNamesMeet(log[0], destination / "y");
}

// The window places X/photos and Y/photos both at D/photos: their trees
// merge, and a name they share keeps the first one's file.
TEST_F(QueueNamesMeet, TwoFoldersWithOneLastNameKeepTheFirstOnesFiles) {
  const fs::path first = tmp.path() / "X" / "photos";
  const fs::path second = tmp.path() / "Y" / "photos";
  const std::vector<uint8_t> a = MakeFile(first / "a", 1000, 1);
  const std::vector<uint8_t> b = MakeFile(first / "b", 1100, 2);
  MakeFile(second / "a", 1200, 3);
  const std::vector<uint8_t> c = MakeFile(second / "c", 1300, 4);
  const fs::path target = destination / "photos";
  auto queue = MakeQueue();
  ASSERT_TRUE(queue->AddSource(quillmere::PathToUtf8(first), quillmere::PathToUtf8(target)));
  ASSERT_TRUE(queue->AddSource(quillmere::PathToUtf8(second), quillmere::PathToUtf8(target)));

  EXPECT_TRUE(queue->Run());

  EXPECT_EQ(testing_support::ReadBytes(target / "a"), a);
  EXPECT_EQ(testing_support::ReadBytes(target / "b"), b);
  EXPECT_EQ(testing_support::ReadBytes(target / "c"), c);
  ExpectRunCounters(queue->GetStats(), 3, 1, 4600);
  const std::vector<LogLine> log = Log();
  ASSERT_EQ(log.size(), 1u);
  ExpectNamesMeet(log[0], target / "a");
}

TEST_F(QueueNamesMeet, CaseTwinsAreOneFileOnlyWhereTheDestinationFoldsCase) {
  fs::create_directories(destination);
  testing_support::WriteBytes(destination / "probe", {1});
  const bool folds = fs::exists(destination / "PROBE");

  ExpectOneFileOrTwo(destination / "a.txt", destination / "A.txt");

  EXPECT_EQ(Log().size(), folds ? 1u : 0u);
}

#if !QUILLMERE_POSIX_STANDIN
// A name that is another file's short (8.3) name leads to that file.
TEST_F(QueueNamesMeet, ShortNameOfAFileWrittenInTheRunIsRefused) {
  const fs::path longName = destination / "longfilename_document.txt";
  MakeFile(longName, 10, 3);
  WCHAR shortPath[MAX_PATH] = {};
  if (GetShortPathNameW(longName.c_str(), shortPath, MAX_PATH) == 0 ||
      fs::path(shortPath).filename() == longName.filename()) {
    GTEST_SKIP() << "this drive gives no short names";
  }

  ExpectOneFileOrTwo(longName, destination / fs::path(shortPath).filename());

  EXPECT_EQ(Log().size(), 1u);
}
#endif

}  // namespace
}  // namespace queue_test
