// A folder source whose tree overlaps its destination is refused whole,
// before anything is queued: a destination that is the source or lies inside
// it, by any path to it, and a source inside its destination where part of
// its tree would land on itself. A source merely below its destination stays
// allowed.
#include "tests/engine/queue/listing_fixture.h"

#include "engine/tree_overlap.h"
#include "platform/win32.h"

#include <functional>

#if QUILLMERE_POSIX_STANDIN
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace queue_test {
namespace {

using quillmere::TreeOverlap;

class QueueListingOverlap : public ListingTest {
 protected:
  void SetUp() override {
    MakeFile(source / "x", 10, 1);
    MakeFile(source / "sub" / "x", 20, 2);
    MakeFile(container / "a" / "x", 30, 3);
    MakeFile(container / "a" / "a" / "x", 40, 4);
  }

  // AddSource(from, to) is refused with one log line, leaves nothing
  // queued, and a run afterwards changes nothing on disk.
  void ExpectRefused(const fs::path& from, const fs::path& to, TreeOverlap overlap) {
    SCOPED_TRACE(quillmere::PathToUtf8(from) + " -> " + quillmere::PathToUtf8(to));
    const size_t loggedBefore = Log().size();
    const std::vector<uint8_t> before = testing_support::ReadBytes(source / "sub" / "x");

    EXPECT_FALSE(Add(from, to));
    EXPECT_TRUE(queue.GetItems().empty());
    EXPECT_EQ(queue.GetStats().totalFiles, 0u);
    EXPECT_TRUE(queue.Run());

    const std::vector<LogLine> log = Log();
    ASSERT_EQ(log.size(), loggedBefore + 1);
    EXPECT_EQ(log.back().stage, "OPEN");
    EXPECT_EQ(log.back().code, quillmere::kTreeOverlapCode);
    EXPECT_EQ(log.back().file, quillmere::PathToUtf8(from));
    EXPECT_EQ(log.back().message, quillmere::TreeOverlapMessage(overlap));
    EXPECT_EQ(testing_support::ReadBytes(source / "sub" / "x"), before);
    EXPECT_EQ(testing_support::ReadBytes(container / "a" / "x"),
              testing_support::PatternBytes(30, 3));
    EXPECT_EQ(quillmere::FindTreeOverlap(from, to), overlap) << "the front ends' check agrees";
  }

  const fs::path container = tmp.path() / "d";
};

TEST_F(QueueListingOverlap, TreesThatOverlapTheirDestinationAreRefusedWhole) {
  ExpectRefused(source, source, TreeOverlap::DestinationInSource);
  ExpectRefused(source, source / "sub", TreeOverlap::DestinationInSource);
  ExpectRefused(source, source / "sub" / ".." / "new" / "deeper", TreeOverlap::DestinationInSource);
  ExpectRefused(container / "a", container, TreeOverlap::SourceInDestination);
  ExpectRefused(container / "a" / "a" / "..", container / "a" / ".." / ".",
                TreeOverlap::SourceInDestination);
  if (CanMakeLinks(tmp.path())) {
    fs::create_directory_symlink(source / "sub", tmp.path() / "link");
    ExpectRefused(source, tmp.path() / "link", TreeOverlap::DestinationInSource);
  }
  EXPECT_FALSE(fs::exists(source / "new"));
}

// Below its destination at d/b, a source whose tree has no b of its own
// lands beside itself, never on itself.
TEST_F(QueueListingOverlap, SourceBelowItsDestinationIsCopiedWhenNothingLandsOnItself) {
  MakeFile(container / "b" / "a" / "y", 50, 5);

  EXPECT_TRUE(Add(container / "b", container));
  EXPECT_TRUE(queue.Run());

  EXPECT_TRUE(Log().empty());
  EXPECT_EQ(testing_support::ReadBytes(container / "a" / "y"), testing_support::PatternBytes(50, 5));
  EXPECT_EQ(testing_support::ReadBytes(container / "b" / "a" / "y"),
            testing_support::PatternBytes(50, 5));
  EXPECT_EQ(testing_support::ReadBytes(container / "a" / "x"), testing_support::PatternBytes(30, 3));
}

#if QUILLMERE_POSIX_STANDIN
constexpr int kNoMounts = 77;

// Runs body in a child process with a private mount namespace, after it
// has bind-mounted `what` at `where`; the mount ends with the child. The
// child's exit code: 0 when body held, kNoMounts when the mount could not be
// made here.
int WithBindMount(const fs::path& what, const fs::path& where, const std::function<bool()>& body) {
  const pid_t child = fork();
  if (child == 0) {
    const bool mounted = unshare(CLONE_NEWNS) == 0 &&
                         mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                         mount(what.c_str(), where.c_str(), nullptr, MS_BIND, nullptr) == 0;
    _exit(!mounted ? kNoMounts : body() ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// No path shows these overlaps; only the folders the walk enters do.
TEST_F(QueueListingOverlap, TreesOverlappingThroughABindMountAreRefusedWhole) {
  if (geteuid() != 0) GTEST_SKIP() << "bind mounts need root";
  const fs::path mountPoint = tmp.path() / "m";
  fs::create_directory(mountPoint);
  auto refused = [this](const fs::path& from, const fs::path& to) {
    return [this, from, to] { return !Add(from, to) && queue.GetItems().empty(); };
  };

  const int intoSource = WithBindMount(source / "sub", mountPoint, refused(source, mountPoint));
  if (intoSource == kNoMounts) GTEST_SKIP() << "no bind mount in a private mount namespace here";
  EXPECT_EQ(intoSource, 0);
  EXPECT_EQ(WithBindMount(container / "a", mountPoint, refused(mountPoint, container)), 0);

  const std::vector<LogLine> log = Log();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].message, quillmere::TreeOverlapMessage(TreeOverlap::DestinationInSource));
  EXPECT_EQ(log[1].message, quillmere::TreeOverlapMessage(TreeOverlap::SourceInDestination));
  EXPECT_EQ(testing_support::ReadBytes(source / "sub" / "x"), testing_support::PatternBytes(20, 2));
}
#endif

}  // namespace
}  // namespace queue_test
