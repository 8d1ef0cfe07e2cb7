// A run never writes a source file through a destination that is another
// name of it, and never reads a source from anywhere but where the listing
// found it.
#include "tests/engine/queue/run_fixture.h"

#include "engine/win32_file.h"

namespace queue_test {
namespace {

using QueueSourceChecks = RunTest;

void ExpectOpenFailure(const LogLine& line, const fs::path& path, long code) {
  EXPECT_EQ(line.stage, "OPEN");
  EXPECT_EQ(line.file, quillmere::PathToUtf8(path));
  EXPECT_EQ(line.code, code);
}

// D/x is a second name of the source S/y: copying S/x there would change
// S/y before (or after) it is copied itself.
TEST_F(QueueSourceChecks, DestinationThatIsAnotherSourceFileIsNotWritten) {
  const std::vector<uint8_t> x = MakeFile(source / "x", 3000, 1);
  const std::vector<uint8_t> y = MakeFile(source / "y", 2000, 2);
  fs::create_directories(destination);
  fs::create_hard_link(source / "y", destination / "x");
  auto queue = MakeQueue();
  ASSERT_TRUE(queue->AddSource(quillmere::PathToUtf8(source), quillmere::PathToUtf8(destination)));

  EXPECT_TRUE(queue->Run());

  EXPECT_EQ(testing_support::ReadBytes(source / "x"), x);
  EXPECT_EQ(testing_support::ReadBytes(source / "y"), y);
  EXPECT_EQ(testing_support::ReadBytes(destination / "y"), y);
  ExpectRunCounters(queue->GetStats(), 1, 1, 5000);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].code, static_cast<int32_t>(ERROR_SHARING_VIOLATION));
  const std::vector<LogLine> log = Log();
  ASSERT_EQ(log.size(), 1u);
  ExpectOpenFailure(log[0], destination / "x", ERROR_SHARING_VIOLATION);
  EXPECT_EQ(log[0].message, quillmere::FormatWin32Error(ERROR_SHARING_VIOLATION));
}

// D/w is a link to the source folder S/u, so D/w/y is the source S/u/y
// itself, with one name: it is not written either, and S/u/y still goes to
// D/u/y.
TEST_F(QueueSourceChecks, DestinationReachedThroughALinkIntoTheSourceIsNotWritten) {
  if (!CanMakeLinks(tmp.path())) GTEST_SKIP() << "no symbolic links here";
  const std::vector<uint8_t> w = MakeFile(source / "w" / "y", 3000, 1);
  const std::vector<uint8_t> u = MakeFile(source / "u" / "y", 2000, 2);
  fs::create_directories(destination);
  fs::create_directory_symlink(source / "u", destination / "w");
  auto queue = MakeQueue();
  ASSERT_TRUE(queue->AddSource(quillmere::PathToUtf8(source), quillmere::PathToUtf8(destination)));

  EXPECT_TRUE(queue->Run());

  EXPECT_EQ(testing_support::ReadBytes(source / "w" / "y"), w);
  EXPECT_EQ(testing_support::ReadBytes(source / "u" / "y"), u);
  EXPECT_EQ(testing_support::ReadBytes(destination / "u" / "y"), u);
  ExpectRunCounters(queue->GetStats(), 1, 1, 5000);
  const std::vector<LogLine> log = Log();
  ASSERT_EQ(log.size(), 1u);
  ExpectOpenFailure(log[0], destination / "w" / "y", ERROR_SHARING_VIOLATION);
  EXPECT_EQ(log[0].message, quillmere::FormatWin32Error(ERROR_SHARING_VIOLATION));
}

// After the listing, the folder d is swapped for a link to a folder outside
// the source that holds a file of the same name: that file is not read.
TEST_F(QueueSourceChecks, FolderSwappedForALinkAfterTheListingIsNotReadThrough) {
  if (!CanMakeLinks(tmp.path())) GTEST_SKIP() << "no symbolic links here";
  const fs::path outside = tmp.path() / "outside";
  MakeFile(outside / "f.bin", 500, 9);
  MakeFile(source / "d" / "f.bin", 400, 1);
  const std::vector<uint8_t> kept = MakeFile(source / "e.bin", 300, 2);
  auto queue = MakeQueue();
  ASSERT_TRUE(queue->AddSource(quillmere::PathToUtf8(source), quillmere::PathToUtf8(destination)));
  const fs::path swapped = source / "d";
  const std::string listed = quillmere::PathToUtf8(swapped / "f.bin");
  fault_injection::SetOpenHook([=](const std::string& path, DWORD) {
    if (path != listed || fs::is_symlink(swapped)) return;
    fs::rename(swapped, source / "d.old");
    fs::create_directory_symlink(outside, swapped);
  });

  EXPECT_TRUE(queue->Run());

  EXPECT_FALSE(fs::exists(destination / "d" / "f.bin"));
  EXPECT_EQ(testing_support::ReadBytes(destination / "e.bin"), kept);
  ExpectRunCounters(queue->GetStats(), 1, 1, 700);
  const std::vector<LogLine> log = Log();
  ASSERT_EQ(log.size(), 1u);
  ExpectOpenFailure(log[0], swapped / "f.bin", 4395);
  EXPECT_EQ(log[0].message,
            "File nguon khong con nam o vi tri da liet ke (mot thu muc tren duong dan da bi thay, "
            "vi du bang lien ket), khong doc");
}

}  // namespace
}  // namespace queue_test
