// Share modes, creation rules and open failures of the stand-in's CreateFileW.
#include "tests/platform/platform_test_support.h"
#include "tests/support/test_support.h"
#include "platform/testing/fault_injection.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using platform_test::kExclusive;
using platform_test::Open;
using testing_support::PatternBytes;
using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;

class CreateFileShare : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    original = dir.File("data.bin");
    WriteBytes(original, content);
    second = original;
    if (GetParam()) {  // reach the same file through a hard link
      second = dir.File("link.bin");
      fs::create_hard_link(original, second);
    }
  }
  void TearDown() override {
    for (HANDLE handle : {first, other}) {
      if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
  }

  TempDir dir;
  std::vector<uint8_t> content = PatternBytes(10000, 7);
  std::string original;
  std::string second;
  HANDLE first = INVALID_HANDLE_VALUE;
  HANDLE other = INVALID_HANDLE_VALUE;
};

TEST_P(CreateFileShare, ReadersShareButExclusiveWriterConflictsBothWays) {
  first = Open(original, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  ASSERT_NE(first, INVALID_HANDLE_VALUE);
  other = Open(second, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  ASSERT_NE(other, INVALID_HANDLE_VALUE) << "two readers that share reading";
  CloseHandle(other);
  other = INVALID_HANDLE_VALUE;

  EXPECT_EQ(Open(second, GENERIC_WRITE, kExclusive, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);

  CloseHandle(first);
  first = Open(second, GENERIC_WRITE, kExclusive, OPEN_EXISTING);
  ASSERT_NE(first, INVALID_HANDLE_VALUE) << "the reader's lock goes with its handle";
  EXPECT_EQ(Open(original, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
}

TEST_P(CreateFileShare, CreateAlwaysNeverEmptiesAFileBeingRead) {
  first = Open(original, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  ASSERT_NE(first, INVALID_HANDLE_VALUE);

  EXPECT_EQ(Open(second, GENERIC_WRITE, kExclusive, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(ReadBytes(original), content);

  std::vector<uint8_t> readBack(content.size() + 10);
  DWORD count = 0;
  ASSERT_TRUE(ReadFile(first, readBack.data(), static_cast<DWORD>(readBack.size()), &count,
                       nullptr));
  readBack.resize(count);
  EXPECT_EQ(readBack, content) << "the reader still sees every byte";
}

TEST_P(CreateFileShare, ReadOnlyHandleThatSharesNothingKeepsReadersOut) {
  first = Open(original, GENERIC_READ, kExclusive, OPEN_EXISTING);
  ASSERT_NE(first, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Open(second, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
}

TEST_P(CreateFileShare, WriterThatSharesReadingLetsReadersInButNotExclusiveWriters) {
  first = Open(original, GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING);
  ASSERT_NE(first, INVALID_HANDLE_VALUE);
  other = Open(second, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
  EXPECT_NE(other, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Open(second, GENERIC_WRITE, kExclusive, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(ReadBytes(original), content);
}

// Windows refuses an open when a handle already open does not share the
// access asked for, or when the new open does not share an access a handle
// already has; a handle without data access neither checks nor counts.
struct HandleKind {
  DWORD access;
  DWORD share;
};

bool WindowsOpensSecond(const HandleKind& first, const HandleKind& second) {
  auto shares = [](const HandleKind& holder, DWORD access) {
    return (!(access & GENERIC_READ) || (holder.share & FILE_SHARE_READ)) &&
           (!(access & GENERIC_WRITE) || (holder.share & FILE_SHARE_WRITE));
  };
  if (first.access == 0 || second.access == 0) return true;
  return shares(first, second.access) && shares(second, first.access);
}

std::string Describe(const HandleKind& kind) {
  auto names = [](bool read, bool write) {
    return read && write ? "read+write" : read ? "read" : write ? "write" : "nothing";
  };
  return std::string(names(kind.access & GENERIC_READ, kind.access & GENERIC_WRITE)) +
         " sharing " + names(kind.share & FILE_SHARE_READ, kind.share & FILE_SHARE_WRITE);
}

// Every pair of the 16 kinds of handle (no data access, read, write or
// both, each sharing nothing, reading, writing or both) against the rule,
// with locks working and on a file system that refuses them (there between
// this process's own handles). Neither side's marks may change the file.
TEST_P(CreateFileShare, AccessAskedForMeetsTheSharingOfEveryOpenHandle) {
  constexpr DWORD kRead = GENERIC_READ;
  constexpr DWORD kWrite = GENERIC_WRITE;
  constexpr DWORD kBoth = FILE_SHARE_READ | FILE_SHARE_WRITE;
  // Answers Windows is known to give, so that the rule above is no echo of
  // the code under test.
  EXPECT_FALSE(WindowsOpensSecond({kRead, FILE_SHARE_READ}, {kWrite, FILE_SHARE_READ}));
  EXPECT_FALSE(WindowsOpensSecond({kWrite, FILE_SHARE_READ}, {kRead, FILE_SHARE_READ}));
  EXPECT_FALSE(WindowsOpensSecond({kWrite, kBoth}, {kRead, FILE_SHARE_READ}));
  EXPECT_TRUE(WindowsOpensSecond({kWrite, FILE_SHARE_READ}, {kRead, kBoth}));
  EXPECT_TRUE(WindowsOpensSecond({kRead, kBoth}, {kWrite, FILE_SHARE_READ}));
  EXPECT_TRUE(WindowsOpensSecond({kRead | kWrite, kBoth}, {kRead | kWrite, kBoth}));
  EXPECT_FALSE(WindowsOpensSecond({kWrite, FILE_SHARE_READ}, {kWrite, kBoth}));
  EXPECT_TRUE(WindowsOpensSecond({0, kExclusive}, {kRead, kExclusive}));
  EXPECT_TRUE(WindowsOpensSecond({kRead, kExclusive}, {0, kExclusive}));

  std::vector<HandleKind> kinds;
  for (DWORD access : {0u, kRead, kWrite, kRead | kWrite}) {
    for (DWORD share : {kExclusive, DWORD{FILE_SHARE_READ}, DWORD{FILE_SHARE_WRITE}, kBoth}) {
      kinds.push_back({access, share});
    }
  }
  for (int lockRefusal : {0, ENOLCK}) {
    fault_injection::RefuseLocks(lockRefusal);
    for (const HandleKind& firstKind : kinds) {
      for (const HandleKind& secondKind : kinds) {
        const std::string pair = Describe(firstKind) + ", then " + Describe(secondKind) +
                                 (lockRefusal ? ", locks refused" : "");
        first = Open(original, firstKind.access, firstKind.share, OPEN_EXISTING);
        ASSERT_NE(first, INVALID_HANDLE_VALUE) << pair;
        other = Open(second, secondKind.access, secondKind.share, OPEN_EXISTING);
        const DWORD code = GetLastError();
        const bool opens = WindowsOpensSecond(firstKind, secondKind);
        EXPECT_EQ(other != INVALID_HANDLE_VALUE, opens) << pair;
        if (!opens) {
          EXPECT_EQ(code, ERROR_SHARING_VIOLATION) << pair;
        }
        for (HANDLE* handle : {&first, &other}) {
          if (*handle != INVALID_HANDLE_VALUE) CloseHandle(*handle);
          *handle = INVALID_HANDLE_VALUE;
        }
      }
    }
    EXPECT_EQ(ReadBytes(original), content);
  }
  fault_injection::RefuseLocks(0);
}

INSTANTIATE_TEST_SUITE_P(SamePathOrHardLink, CreateFileShare, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? std::string("HardLink") : std::string("SamePath");
                         });

TEST(CreateFileShareAcrossProcesses, ReaderInAnotherProcessBlocksExclusiveWriter) {
  TempDir dir;
  std::string path = dir.File("shared.bin");
  WriteBytes(path, PatternBytes(100));
  int ready[2];
  int done[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(done), 0);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    HANDLE reader = Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    char mark = reader == INVALID_HANDLE_VALUE ? 'n' : 'y';
    (void)!::write(ready[1], &mark, 1);
    (void)!::read(done[0], &mark, 1);
    ::_exit(0);
  }
  char mark = 0;
  ASSERT_EQ(::read(ready[0], &mark, 1), 1);
  ASSERT_EQ(mark, 'y');
  EXPECT_EQ(Open(path, GENERIC_WRITE, kExclusive, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(Open(path, GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE)
      << "the reader does not share writing";
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  HANDLE reader = Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  EXPECT_NE(reader, INVALID_HANDLE_VALUE) << "readers share across processes";
  CloseHandle(reader);
  EXPECT_EQ(ReadBytes(path), PatternBytes(100));
  (void)!::write(done[1], &mark, 1);
  int status = 0;
  ::waitpid(child, &status, 0);
  for (int fd : {ready[0], ready[1], done[0], done[1]}) ::close(fd);
}

// Opens that race each other for a file that each wants alone: at no
// moment may two of them hold it.
TEST(CreateFileShareRace, ExclusiveOpensNeverHoldTheFileTogether) {
  TempDir dir;
  std::string path = dir.File("contended.bin");
  WriteBytes(path, PatternBytes(10));
  std::atomic<int> holders{0};
  std::atomic<int> overlaps{0};
  std::atomic<int> wins{0};
  auto contend = [&](DWORD access) {
    for (int round = 0; round < 300; ++round) {
      HANDLE handle = Open(path, access, kExclusive, OPEN_EXISTING);
      if (handle == INVALID_HANDLE_VALUE) continue;
      if (holders.fetch_add(1) != 0) overlaps.fetch_add(1);
      wins.fetch_add(1);
      std::this_thread::yield();
      holders.fetch_sub(1);
      CloseHandle(handle);
    }
  };
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) threads.emplace_back(contend, i % 2 ? GENERIC_READ : GENERIC_WRITE);
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(overlaps.load(), 0);
  EXPECT_GT(wins.load(), 0);
  EXPECT_EQ(ReadBytes(path), PatternBytes(10));
}

TEST(CreateFileDisposition, CreateAlwaysCreatesOrEmptiesAFreeFile) {
  TempDir dir;
  std::string path = dir.File("target.bin");
  HANDLE created = Open(path, GENERIC_WRITE, kExclusive, CREATE_ALWAYS);
  ASSERT_NE(created, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  CloseHandle(created);
  EXPECT_TRUE(fs::exists(path));

  WriteBytes(path, PatternBytes(5000));
  HANDLE emptied = Open(path, GENERIC_WRITE, kExclusive, CREATE_ALWAYS);
  ASSERT_NE(emptied, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS) << "success that says the file was there";
  CloseHandle(emptied);
  EXPECT_EQ(fs::file_size(path), 0u);
}

TEST(CreateFileDisposition, OpenAlwaysSaysWhetherTheFileWasThereAndKeepsIt) {
  TempDir dir;
  std::string path = dir.File("kept.bin");
  SetLastError(ERROR_DISK_FULL);
  HANDLE created = Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_ALWAYS);
  ASSERT_NE(created, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  CloseHandle(created);

  WriteBytes(path, PatternBytes(300));
  HANDLE opened = Open(path, GENERIC_WRITE, kExclusive, OPEN_ALWAYS);
  ASSERT_NE(opened, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  CloseHandle(opened);
  EXPECT_EQ(ReadBytes(path), PatternBytes(300));

  HANDLE plain = Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  ASSERT_NE(plain, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  CloseHandle(plain);
}

// Where the file system refuses direct I/O, an unbuffered open goes on
// buffered; a file it creates is created once, and counts as new.
TEST(CreateFileDisposition, UnbufferedCreationWithoutDirectIoCreatesOnce) {
  TempDir dir;
  fault_injection::RefuseDirectIo(true);
  for (DWORD disposition : {CREATE_NEW, CREATE_ALWAYS, OPEN_ALWAYS}) {
    SCOPED_TRACE("disposition " + std::to_string(disposition));
    const std::string path = dir.File("new-" + std::to_string(disposition));
    SetLastError(ERROR_DISK_FULL);
    HANDLE created = Open(path, GENERIC_WRITE, kExclusive, disposition, FILE_FLAG_NO_BUFFERING);
    EXPECT_NE(created, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_FALSE(fault_injection::HandleUsesDirectIo(created));
    CloseHandle(created);

    HANDLE again = Open(path, GENERIC_WRITE, kExclusive, disposition, FILE_FLAG_NO_BUFFERING);
    const bool opens = disposition != CREATE_NEW;
    EXPECT_EQ(again != INVALID_HANDLE_VALUE, opens);
    EXPECT_EQ(GetLastError(), opens ? ERROR_ALREADY_EXISTS : ERROR_FILE_EXISTS);
    if (again != INVALID_HANDLE_VALUE) CloseHandle(again);
  }

  // The file made by the refused creation is taken over by its name: a link
  // put there in the meantime is refused, not followed.
  const std::string target = dir.File("target");
  WriteBytes(target, PatternBytes(300));
  fault_injection::SetRefusedCreationHook([&](const std::string& path) {
    fs::remove(path);
    fs::create_symlink(target, path);
  });
  const std::string swapped = dir.File("swapped");
  EXPECT_EQ(Open(swapped, GENERIC_WRITE, kExclusive, CREATE_ALWAYS, FILE_FLAG_NO_BUFFERING),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_CANT_RESOLVE_FILENAME);
  EXPECT_EQ(ReadBytes(target), PatternBytes(300));
  fault_injection::ResetFileFaults();
}

TEST(CreateFileFailure, MissingFileOrFolderGiveWindowsCodesAndCreateNothing) {
  TempDir dir;
  std::string missingFile = dir.File("absent.bin");
  EXPECT_EQ(Open(missingFile, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Open(missingFile, GENERIC_WRITE, kExclusive, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(fs::exists(missingFile));

  EXPECT_EQ(Open(dir.File("no/such/file.bin"), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(Open(dir.File("no/file.bin"), GENERIC_WRITE, kExclusive, CREATE_ALWAYS),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);

  WriteBytes(dir.File("plain"), PatternBytes(1));
  EXPECT_EQ(Open(dir.File("plain/inner"), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);

  EXPECT_EQ(Open("", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

// A separator after the last name makes it no file name: Windows answers
// 123 where there is a file or one would be created, and touches nothing.
TEST(CreateFileFailure, NameEndingInSeparatorIsInvalidUnlessItIsAFolder) {
  TempDir dir;
  std::string file = dir.File("plain.bin");
  WriteBytes(file, PatternBytes(50));
  EXPECT_EQ(Open(file + "/", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
  EXPECT_EQ(Open(file + "/", GENERIC_WRITE, kExclusive, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
  EXPECT_EQ(ReadBytes(file), PatternBytes(50));

  std::string fresh = dir.File("fresh");
  for (DWORD disposition : {CREATE_ALWAYS, CREATE_NEW, OPEN_ALWAYS}) {
    EXPECT_EQ(Open(fresh + "/", GENERIC_WRITE, kExclusive, disposition), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME) << "disposition " << disposition;
  }
  EXPECT_FALSE(fs::exists(fresh));
  EXPECT_EQ(Open(fresh + "/", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND) << "nothing to open, nothing to create";
  EXPECT_EQ(Open(dir.File("no/fresh/"), GENERIC_WRITE, kExclusive, CREATE_ALWAYS),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);

  fs::create_directory(dir.File("sub"));
  EXPECT_EQ(Open(dir.File("sub/"), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Open(dir.File("sub//"), GENERIC_WRITE, kExclusive, CREATE_ALWAYS),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST(CreateFileFailure, FolderIsRefusedWithAccessDenied) {
  TempDir dir;
  EXPECT_EQ(Open(dir.path().string(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Open(dir.path().string(), GENERIC_WRITE, kExclusive, CREATE_ALWAYS),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(fs::is_directory(dir.path()));
}

TEST(CreateFileFailure, FileTheUserMayNotReadIsAccessDenied) {
  TempDir dir;
  std::string path = dir.File("private.bin");
  WriteBytes(path, PatternBytes(10));
  ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  int status = platform_test::RunAsNobody([&] {
    HANDLE handle = Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    if (handle != INVALID_HANDLE_VALUE) return 1;
    return GetLastError() == ERROR_ACCESS_DENIED ? 0 : 2;
  });
  if (status == 255) GTEST_SKIP() << "cannot drop to user nobody here";
  EXPECT_EQ(status, 0);
}

}  // namespace
