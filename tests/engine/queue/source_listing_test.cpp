// Listing sources into queue items: file and folder sources, order and
// placement of a tree, the forms a source path may take, rejected sources,
// and folders the user may not open.
#include "tests/engine/queue/listing_fixture.h"

#include "platform/win32.h"

#include <system_error>

#if QUILLMERE_POSIX_STANDIN
#include <sys/resource.h>
#include <sys/stat.h>
#endif

namespace queue_test {
namespace {

using quillmere::QueueStats;

void ExpectTotals(const QueueStats& stats, uint64_t files, uint64_t bytes) {
  EXPECT_EQ(stats.totalFiles, files);
  EXPECT_EQ(stats.totalBytes, bytes);
  EXPECT_EQ(stats.succeededFiles, 0u);
  EXPECT_EQ(stats.processedBytes, 0u);
  EXPECT_EQ(stats.skippedFiles, 0u);
}

using QueueListing = ListingTest;

TEST_F(QueueListing, MissingSourceLogsOneOpenLineAndQueuesNothing) {
  const fs::path missing = tmp.path() / "no-such" / "thing";
  EXPECT_FALSE(Add(missing, destination));

  EXPECT_TRUE(queue.GetItems().empty());
  EXPECT_TRUE(queue.GetStatuses().empty());
  ExpectTotals(queue.GetStats(), 0, 0);
  const std::vector<LogLine> log = Log();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].stage, "OPEN");
  EXPECT_EQ(log[0].action, "SKIP");
  // The library reports a missing name without telling a missing folder
  // from a missing file, on both hosts.
  EXPECT_EQ(log[0].code, static_cast<long>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(log[0].file, quillmere::PathToUtf8(missing));
  EXPECT_EQ(log[0].message,
            FileSystemMessage(std::errc::no_such_file_or_directory, ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(fs::exists(destination));
}

TEST_F(QueueListing, FileSourceKeepsItsDestinationAndRaisesTotals) {
  const fs::path file = tmp.path() / "report.bin";
  const fs::path target = tmp.path() / "out" / "copy.bin";
  MakeFile(file, 1234);

  EXPECT_TRUE(Add(file, target));

  EXPECT_EQ(Items(), std::vector<std::string>{FileItem(file, target, 1234)});
  ExpectTotals(queue.GetStats(), 1, 1234);
  EXPECT_EQ(queue.GetStatuses(), std::vector<quillmere::ItemStatus>{quillmere::ItemStatus::Pending});
  EXPECT_EQ(queue.GetMessages(), std::vector<std::string>{""});
  EXPECT_TRUE(Log().empty());
}

TEST_F(QueueListing, EmptyFileStillCountsAsAFile) {
  const fs::path file = tmp.path() / "empty.txt";
  MakeFile(file, 0);

  EXPECT_TRUE(Add(file, destination));

  EXPECT_EQ(Items(), std::vector<std::string>{FileItem(file, destination, 0)});
  ExpectTotals(queue.GetStats(), 1, 0);
}

TEST_F(QueueListing, EmptyFolderGivesOnlyItsOwnItem) {
  fs::create_directory(source);

  EXPECT_TRUE(Add(source, destination));

  EXPECT_EQ(Items(), std::vector<std::string>{FolderItem(source, destination)});
  ExpectTotals(queue.GetStats(), 0, 0);
  EXPECT_TRUE(Log().empty());
}

// src/{a.txt (10 bytes), sub/b.txt (5 bytes)}: the source folder first, then
// its entries in listing order, sub's item directly before sub/b.txt.
TEST_F(QueueListing, TreeListsEachFolderBeforeItsContentsInListingOrder) {
  MakeFile(source / "a.txt", 10);
  MakeFile(source / "sub" / "b.txt", 5);

  EXPECT_TRUE(Add(source, destination));

  std::vector<std::string> expected{FolderItem(source, destination)};
  for (const fs::path& name : ListingOrder(source)) {
    if (name == "a.txt") {
      expected.push_back(FileItem(source / "a.txt", destination / "a.txt", 10));
    } else {
      expected.push_back(FolderItem(source / "sub", destination / "sub"));
      expected.push_back(FileItem(source / "sub" / "b.txt", destination / "sub" / "b.txt", 5));
    }
  }
  EXPECT_EQ(Items(), expected);
  ExpectTotals(queue.GetStats(), 2, 15);
  EXPECT_EQ(queue.GetStatuses().size(), 4u);
  EXPECT_EQ(queue.GetMessages(), std::vector<std::string>(4));
  EXPECT_TRUE(Log().empty());
}

TEST_F(QueueListing, TrailingSeparatorAndRelativeSourceGiveTheSameDestinations) {
  MakeFile(source / "a.txt", 4);
  MakeFile(source / "sub" / "b.txt", 6);
  quillmere::QueueManager withSeparator(nullptr, nullptr, &flags, quillmere::PathToUtf8(logPath));
  quillmere::QueueManager relative(nullptr, nullptr, &flags, quillmere::PathToUtf8(logPath));

  ASSERT_TRUE(Add(source, destination));
  ASSERT_TRUE(withSeparator.AddSource(quillmere::PathToUtf8(source) + QUILLMERE_PATH_SEPARATOR,
                                      quillmere::PathToUtf8(destination)));
  {
    CurrentFolder inTmp(tmp.path());
    ASSERT_TRUE(relative.AddSource("src", quillmere::PathToUtf8(destination)));
  }

  const std::vector<quillmere::QueueItem> plain = queue.GetItems();
  const std::vector<quillmere::QueueItem> separated = withSeparator.GetItems();
  const std::vector<quillmere::QueueItem> local = relative.GetItems();
  ASSERT_EQ(plain.size(), 4u);
  ASSERT_EQ(separated.size(), plain.size());
  ASSERT_EQ(local.size(), plain.size());
  for (size_t i = 0; i < plain.size(); ++i) {
    EXPECT_EQ(separated[i].destination, plain[i].destination);
    EXPECT_EQ(local[i].destination, plain[i].destination);
    // Sources keep the form the caller gave.
    const fs::path below = quillmere::Utf8ToPath(plain[i].source).lexically_relative(source);
    const fs::path localSource = i == 0 ? fs::path("src") : fs::path("src") / below;
    EXPECT_EQ(local[i].source, quillmere::PathToUtf8(localSource));
    if (i > 0) {
      EXPECT_EQ(separated[i].source, plain[i].source);
    }
  }
  EXPECT_EQ(separated[0].source, quillmere::PathToUtf8(source) + QUILLMERE_PATH_SEPARATOR);
  EXPECT_EQ(withSeparator.GetStats().totalBytes, 10u);
  EXPECT_EQ(relative.GetStats().totalBytes, 10u);
  EXPECT_TRUE(Log().empty());
}

TEST_F(QueueListing, SameSourceTwiceIsQueuedAndCountedTwice) {
  MakeFile(source / "a.txt", 10);
  MakeFile(source / "sub" / "b.txt", 5);

  EXPECT_TRUE(Add(source, destination));
  const std::vector<std::string> once = Items();
  EXPECT_TRUE(Add(source, destination));

  std::vector<std::string> twice = once;
  twice.insert(twice.end(), once.begin(), once.end());
  EXPECT_EQ(Items(), twice);
  ExpectTotals(queue.GetStats(), 4, 30);
  EXPECT_EQ(queue.GetStatuses().size(), 8u);
}

#if QUILLMERE_POSIX_STANDIN
TEST_F(QueueListing, SourceThatIsNeitherFileNorFolderIsRejected) {
  const fs::path pipe = tmp.path() / "pipe";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);

  EXPECT_FALSE(Add(pipe, destination));

  EXPECT_TRUE(queue.GetItems().empty());
  const std::vector<LogLine> log = Log();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].stage, "OPEN");
  EXPECT_EQ(log[0].action, "SKIP");
  EXPECT_EQ(log[0].code, 0);
  EXPECT_EQ(log[0].file, pipe.string());
  EXPECT_EQ(log[0].message, "Duong dan nguon khong phai file hay thu muc hop le");
}

// A pipe inside a tree would block a copy forever; it is left out silently.
TEST_F(QueueListing, SpecialFilesInsideATreeAreLeftOut) {
  MakeFile(source / "a.txt", 2);
  ASSERT_EQ(mkfifo((source / "pipe").c_str(), 0600), 0);

  EXPECT_TRUE(Add(source, destination));

  EXPECT_EQ(Items(), (std::vector<std::string>{FolderItem(source, destination),
                                               FileItem(source / "a.txt", destination / "a.txt", 2)}));
  EXPECT_TRUE(Log().empty());
}

TEST_F(QueueListing, NamesThatAreNotUtf8KeepTheirBytes) {
  const std::string name = "caf\xe9-\xff.bin";  // Latin-1 bytes, not UTF-8
  MakeFile(source / name, 9);

  EXPECT_TRUE(Add(source, destination));

  EXPECT_EQ(Items(), (std::vector<std::string>{FolderItem(source, destination),
                                               FileItem(source / name, destination / name, 9)}));
  EXPECT_TRUE(Log().empty());
}

// Names Windows reads as a drive, a path or a climb are plain names here.
TEST_F(QueueListing, NamesWindowsWouldReadAsPathsAreCopiedUnderTheirNames) {
  const std::vector<std::string> names{"c:d", "z:..", "q\\r", "a."};
  for (const std::string& name : names) MakeFile(source / name, 1);

  EXPECT_TRUE(Add(source, destination));

  std::vector<std::string> expected{FolderItem(source, destination)};
  for (const fs::path& name : ListingOrder(source)) {
    expected.push_back(FileItem(source / name, destination / name, 1));
  }
  EXPECT_EQ(Items(), expected);
  EXPECT_TRUE(Log().empty());
}

long PeakResidentKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// A chain of 1,000 folders: the walk and the run cost about what the items
// hold (some 3 MiB of paths), not a copy of the path above each level (once
// 30 times that). AddressSanitizer keeps freed memory back, so the peak says nothing
// there.
TEST_F(QueueListing, DeepChainCostsAboutWhatItsItemsHold) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "peak memory is not the program's own under AddressSanitizer";
#endif
  fs::path deepest = source;
  fs::create_directory(deepest);
  for (int level = 0; level < 1000; ++level) fs::create_directory(deepest /= "d");
  MakeFile(deepest / "f", 1);
  const long before = PeakResidentKiB();

  EXPECT_TRUE(Add(source, destination));
  EXPECT_LT(PeakResidentKiB() - before, 24 * 1024);
  // The run, which remembers the folders it made, costs no more.
  EXPECT_TRUE(queue.Run());

  EXPECT_LT(PeakResidentKiB() - before, 24 * 1024);
  EXPECT_EQ(queue.GetItems().size(), 1002u);
  EXPECT_TRUE(fs::exists(destination / deepest.lexically_relative(source) / "f"));
  EXPECT_TRUE(Log().empty());
}

// Root ignores file modes, so these run in a child that is user nobody.
class QueueListingPermissions : public ListingTest {
 protected:
  static bool IsDeniedLine(const std::vector<LogLine>& log, const fs::path& folder) {
    return log.size() == 1 && log[0].stage == "OPEN" && log[0].code == 5 &&
           log[0].file == quillmere::PathToUtf8(folder);
  }

  void SetUp() override {
    // nobody must reach the tree and write the log beside it.
    fs::permissions(tmp.path(), fs::perms::all);
  }

  void RunChecked(const std::function<std::string()>& body) {
    const std::string result = RunUnprivileged(body);
    if (result.rfind("SKIP:", 0) == 0) GTEST_SKIP() << result;
    EXPECT_EQ(result, "");
  }
};

// A folder the user may not open is not copied, and the log says so once,
// with the Windows code for a denied access, so the run counts a failure.
TEST_F(QueueListingPermissions, SourceFolderTheUserMayNotOpenGivesItsItemAndOneLogLine) {
  MakeFile(source / "hidden.txt", 5);
  fs::permissions(source, fs::perms::none);

  RunChecked([this] {
    Checks checks;
    checks.True(!Add(source, destination), "AddSource gave true");
    checks.Same(Items(), {FolderItem(source, destination)}, "items");
    checks.True(queue.GetStats().totalFiles == 0, "a file was counted");
    checks.True(IsDeniedLine(Log(), source), "no single OPEN line with code 5");
    checks.True(queue.GetFailureCount() == 1, "the failure was not counted");
    return checks.Result();
  });
}

TEST_F(QueueListingPermissions, SubfolderTheUserMayNotOpenIsLoggedOnceAndPassedOver) {
  MakeFile(source / "a.txt", 3);
  MakeFile(source / "locked" / "secret.txt", 4);
  MakeFile(source / "open" / "b.txt", 5);
  fs::permissions(source / "locked", fs::perms::none);

  RunChecked([this] {
    std::vector<std::string> expected{FolderItem(source, destination)};
    for (const fs::path& name : ListingOrder(source)) {
      if (name == "a.txt") {
        expected.push_back(FileItem(source / name, destination / name, 3));
      } else if (name == "locked") {
        expected.push_back(FolderItem(source / name, destination / name));
      } else {
        expected.push_back(FolderItem(source / name, destination / name));
        expected.push_back(FileItem(source / name / "b.txt", destination / name / "b.txt", 5));
      }
    }
    Checks checks;
    checks.True(Add(source, destination), "AddSource gave false");
    checks.Same(Items(), expected, "items");
    checks.True(queue.GetStats().totalBytes == 8, "totals count the locked file");
    checks.True(IsDeniedLine(Log(), source / "locked"), "no single OPEN line with code 5");
    return checks.Result();
  });
}
#endif  // QUILLMERE_POSIX_STANDIN

}  // namespace
}  // namespace queue_test
