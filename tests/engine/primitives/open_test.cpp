// OpenSource, OpenDestination and OpenForVerify: creation, emptying,
// pre-sizing, share conflicts and missing paths.
#include "engine/win32_file.h"
#include "tests/engine/primitives/primitives_test_support.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;
using primitives_test::OpenedFile;
using primitives_test::PositionOf;
using quillmere::GetFileSize64;
using quillmere::OpenDestination;
using quillmere::OpenForVerify;
using quillmere::OpenSource;
using testing_support::PatternBytes;
using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;

constexpr uint32_t kSharingViolation = 32;

// The destination may be the source under a name the share check cannot
// see through: opening it must destroy nothing. It is only ever lengthened.
TEST(OpenDestination, KeepsAnExistingFilesBytesAndOnlyLengthensItAtPositionZero) {
  TempDir dir;
  std::string path = dir.File("dest.bin");
  const std::vector<uint8_t> old = PatternBytes(50000);
  WriteBytes(path, old);
  {
    OpenedFile dest(OpenDestination(path, 10000));
    ASSERT_TRUE(dest->ok);
    EXPECT_NE(dest->handle, nullptr);
    EXPECT_EQ(dest->errorCode, 0u);
    EXPECT_EQ(PositionOf(dest->handle), 0);
  }
  EXPECT_EQ(ReadBytes(path), old) << "a longer file keeps every byte";

  { OpenedFile dest(OpenDestination(path, 0)); ASSERT_TRUE(dest->ok); }
  EXPECT_EQ(ReadBytes(path), old);

  {
    OpenedFile dest(OpenDestination(path, 60000));
    ASSERT_TRUE(dest->ok);
    EXPECT_EQ(PositionOf(dest->handle), 0);
  }
  std::vector<uint8_t> lengthened = old;
  lengthened.resize(60000, 0);
  EXPECT_EQ(ReadBytes(path), lengthened) << "a shorter file is lengthened behind its bytes";

  { OpenedFile dest(OpenDestination(dir.File("fresh.bin"), 0)); ASSERT_TRUE(dest->ok); }
  EXPECT_TRUE(fs::exists(dir.File("fresh.bin")));
}

TEST(OpenDestination, PreSizeThatCannotBeDoneLeavesTheOpenStanding) {
  TempDir dir;
  for (uint64_t size : {UINT64_MAX, uint64_t{1} << 62}) {
    OpenedFile dest(OpenDestination(dir.File("huge.bin"), size));
    EXPECT_TRUE(dest->ok) << size;
    EXPECT_EQ(dest->errorCode, 0u);
  }
}

// The same file reached by its own path or by a hard link.
class SameFile : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    WriteBytes(source, content);
    other = source;
    if (GetParam()) {
      other = dir.File("link.bin");
      fs::create_hard_link(source, other);
    }
  }
  TempDir dir;
  std::string source = dir.File("source.bin");
  std::string other;
  std::vector<uint8_t> content = PatternBytes(12345, 11);
};

TEST_P(SameFile, DestinationOverAnOpenSourceFailsAndKeepsEveryByte) {
  OpenedFile reading(OpenSource(source));
  ASSERT_TRUE(reading->ok);
  OpenedFile writing(OpenDestination(other, content.size()));
  EXPECT_FALSE(writing->ok);
  EXPECT_EQ(writing->handle, nullptr);
  EXPECT_EQ(writing->errorCode, kSharingViolation);
  reading.Close();
  EXPECT_EQ(ReadBytes(source), content);
}

TEST_P(SameFile, ReadersCannotOpenAFileHeldForWriting) {
  OpenedFile writing(OpenDestination(source, 0));
  ASSERT_TRUE(writing->ok);
  OpenedFile reading(OpenSource(other));
  EXPECT_FALSE(reading->ok);
  EXPECT_EQ(reading->handle, nullptr);
  EXPECT_EQ(reading->errorCode, kSharingViolation);
  OpenedFile verifying(OpenForVerify(other));
  EXPECT_FALSE(verifying->ok);
  EXPECT_EQ(verifying->errorCode, kSharingViolation);
}

TEST_P(SameFile, ReadersShareWithEachOther) {
  OpenedFile first(OpenSource(source));
  OpenedFile second(OpenSource(other));
  OpenedFile third(OpenForVerify(other));
  EXPECT_TRUE(first->ok);
  EXPECT_TRUE(second->ok);
  EXPECT_TRUE(third->ok);
}

INSTANTIATE_TEST_SUITE_P(ByPathOrHardLink, SameFile, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? std::string("HardLink") : std::string("SamePath");
                         });

TEST(OpenSource, MissingFileOrFolderGivesItsCodeAndCreatesNothing) {
  TempDir dir;
  std::string missing = dir.File("absent.bin");
  OpenedFile source(OpenSource(missing));
  EXPECT_FALSE(source->ok);
  EXPECT_EQ(source->handle, nullptr);
  EXPECT_EQ(source->errorCode, 2u);
  EXPECT_FALSE(fs::exists(missing));

  OpenedFile verify(OpenForVerify(missing));
  EXPECT_EQ(verify->errorCode, 2u);

  OpenedFile inMissingFolder(OpenSource(dir.File("nowhere/absent.bin")));
  EXPECT_EQ(inMissingFolder->errorCode, 3u);
  OpenedFile destInMissingFolder(OpenDestination(dir.File("nowhere/dest.bin"), 100));
  EXPECT_FALSE(destInMissingFolder->ok);
  EXPECT_EQ(destInMissingFolder->errorCode, 3u);
  EXPECT_FALSE(fs::exists(dir.File("nowhere")));
}

// A separator after a file's name makes the name invalid (123) for reading
// and for creating alike; nothing is created or emptied.
TEST(OpenSource, NameEndingInSeparatorIsAnInvalidName) {
  TempDir dir;
  const std::string file = dir.File("data.bin");
  WriteBytes(fs::path(file), PatternBytes(64));
  OpenedFile source(OpenSource(file + "/"));
  EXPECT_FALSE(source->ok);
  EXPECT_EQ(source->errorCode, 123u);
  OpenedFile overFile(OpenDestination(file + "/", 10));
  EXPECT_EQ(overFile->errorCode, 123u);
  EXPECT_EQ(ReadBytes(fs::path(file)), PatternBytes(64));

  const std::string fresh = dir.File("fresh");
  OpenedFile newName(OpenDestination(fresh + "/", 10));
  EXPECT_FALSE(newName->ok);
  EXPECT_EQ(newName->errorCode, 123u);
  EXPECT_FALSE(fs::exists(fs::path(fresh)));
}

TEST(OpenSource, FolderIsRefusedWithAccessDenied) {
  TempDir dir;
  OpenedFile source(OpenSource(dir.path().string()));
  EXPECT_FALSE(source->ok);
  EXPECT_EQ(source->errorCode, 5u);
}

#if QUILLMERE_NATIVE_PATHS_ARE_UTF8
// File names are bytes here, and need not be valid UTF-8: such a file is
// measured, opened and created under exactly its own name.
TEST(NativeNames, NameThatIsNotUtf8PassesThroughUnchanged) {
  TempDir dir;
  const std::string name = dir.File("caf\xe9-\xff\xfe.bin");
  WriteBytes(fs::path(name), PatternBytes(777));
  EXPECT_EQ(GetFileSize64(name), 777u);
  OpenedFile source(OpenSource(name));
  EXPECT_TRUE(source->ok);

  const std::string destination = dir.File("d\xc3\x28-\x80.bin");
  { OpenedFile dest(OpenDestination(destination, 5)); ASSERT_TRUE(dest->ok); }
  EXPECT_TRUE(fs::exists(fs::path(destination)));
  EXPECT_EQ(fs::file_size(fs::path(destination)), 5u);
}
#endif

}  // namespace
