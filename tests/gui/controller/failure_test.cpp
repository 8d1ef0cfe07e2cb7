// How a run ends when a source is missing, when something throws inside the
// worker, and when the worker cannot be started at all.
#include "engine/tree_overlap.h"
#include "gui/copy_controller.h"
#include "platform/win32.h"
#include "tests/gui/controller/controller_test_support.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#if QUILLMERE_POSIX_STANDIN
#include "platform/testing/fault_injection.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace quillmere {
namespace {

namespace fs = std::filesystem;
using testing_support::PatternBytes;
using testing_support::ReadBytes;
using testing_support::ReadText;
using testing_support::TempDir;
using testing_support::WriteBytes;

// Three file sources "one.bin", "two.bin", "three.bin" and a destination.
struct ThreeSources {
  TempDir dir;
  fs::path destination = dir.path() / "dst";
  std::vector<fs::path> paths{dir.path() / "one.bin", dir.path() / "two.bin",
                              dir.path() / "three.bin"};
  std::string logPath = dir.File("errors.log");

  ThreeSources() {
    fs::create_directory(destination);
    for (size_t i = 0; i < paths.size(); ++i) {
      WriteBytes(paths[i], PatternBytes(1000 + i, static_cast<uint32_t>(20 + i)));
    }
  }
  std::vector<std::string> Sources() const {
    return {paths[0].string(), paths[1].string(), paths[2].string()};
  }
  std::vector<std::string> ListedSources(const CopyController& controller) const {
    std::vector<std::string> listed;
    for (const QueueItem& item : controller.queueManager->GetItems()) listed.push_back(item.source);
    return listed;
  }
};

TEST(CopyControllerFailure, MissingSecondSourceIsPassedOverAndTheRunGoesOn) {
  ThreeSources job;
  fs::remove(job.paths[1]);
  CopyController controller(job.logPath);
  controller.StartCopy(job.Sources(), job.destination.string());
  WaitForRunEnd(controller);

  EXPECT_TRUE(controller.finished);
  EXPECT_TRUE(controller.succeeded);
  EXPECT_EQ(job.ListedSources(controller),
            (std::vector<std::string>{job.paths[0].string(), job.paths[2].string()}));
  EXPECT_EQ(ReadBytes(job.destination / "one.bin"), ReadBytes(job.paths[0]));
  EXPECT_EQ(ReadBytes(job.destination / "three.bin"), ReadBytes(job.paths[2]));
  // A rejected source goes to the log, not to the window's last error.
  EXPECT_EQ(LastErrorSnapshot(), "");
  EXPECT_NE(ReadText(job.logPath).find(job.paths[1].string()), std::string::npos);
}

// The destination folder given as a source lands inside itself: refused,
// shown as the last error, and nothing of it is copied; the others are.
TEST(CopyControllerFailure, SourceWhoseTreeOverlapsItsTargetIsRefusedAndTheOthersAreCopied) {
  ThreeSources job;
  WriteBytes(job.destination / "keep.bin", PatternBytes(10, 30));
  CopyController controller(job.logPath);
  controller.StartCopy({job.paths[0].string(), job.destination.string(), job.paths[2].string()},
                       job.destination.string());
  WaitForRunEnd(controller);

  EXPECT_EQ(job.ListedSources(controller),
            (std::vector<std::string>{job.paths[0].string(), job.paths[2].string()}));
  EXPECT_EQ(ReadBytes(job.destination / "three.bin"), ReadBytes(job.paths[2]));
  EXPECT_FALSE(fs::exists(job.destination / "dst"));
  const std::string message = TreeOverlapMessage(TreeOverlap::DestinationInSource);
  EXPECT_EQ(LastErrorSnapshot(), job.destination.string() + ": " + message);
  EXPECT_NE(ReadText(job.logPath).find(message), std::string::npos);
}

// What must hold after an exception escaped the listing of the second source.
void ExpectRunEndedAtSecondListing(const ThreeSources& job, const CopyController& controller) {
  EXPECT_TRUE(controller.finished);
  EXPECT_FALSE(controller.running);
  EXPECT_FALSE(controller.succeeded);
  // The first stays listed and Pending; the third was never listed.
  EXPECT_EQ(job.ListedSources(controller), std::vector<std::string>{job.paths[0].string()});
  EXPECT_EQ(controller.queueManager->GetStatuses(), std::vector<ItemStatus>{ItemStatus::Pending});
  // The queue never ran.
  EXPECT_FALSE(fs::exists(job.destination / "one.bin"));
}

TEST(CopyControllerFailure, ExceptionWhileListingSecondSourceEndsTheRunAsFailed) {
  ThreeSources job;
  ScopedListingHook hook([](size_t index, const std::string&) {
    if (index == 1) throw std::runtime_error("listing broke");
  });
  CopyController controller(job.logPath);
  controller.StartCopy(job.Sources(), job.destination.string());
  WaitForRunEnd(controller);

  ExpectRunEndedAtSecondListing(job, controller);
  EXPECT_EQ(LastErrorSnapshot(), "Unexpected error: listing broke");
}

TEST(CopyControllerFailure, ExceptionOutsideTheStandardFamilyIsReportedAsUnknown) {
  ThreeSources job;
  ScopedListingHook hook([](size_t index, const std::string&) {
    if (index == 1) throw 42;
  });
  CopyController controller(job.logPath);
  controller.StartCopy(job.Sources(), job.destination.string());
  WaitForRunEnd(controller);

  ExpectRunEndedAtSecondListing(job, controller);
  EXPECT_EQ(LastErrorSnapshot(), "Unexpected error (unknown exception)");
}

TEST(CopyControllerFailure, CopyFailureBecomesPathColonMessageAndTheQueueGoesOn) {
  ThreeSources job;
  // The first destination is a folder, so its copy cannot be opened.
  fs::create_directory(job.destination / "one.bin");
  CopyController controller(job.logPath);
  controller.StartCopy(job.Sources(), job.destination.string());
  WaitForRunEnd(controller);

  EXPECT_TRUE(controller.succeeded);  // the queue reached its end
  const std::string text = LastErrorSnapshot();
  const std::string prefix = (job.destination / "one.bin").string() + ": ";
  ASSERT_GT(text.size(), prefix.size());
  EXPECT_EQ(text.substr(0, prefix.size()), prefix);
  EXPECT_EQ(controller.queueManager->GetStats().skippedFiles, 1u);
  EXPECT_EQ(ReadBytes(job.destination / "two.bin"), ReadBytes(job.paths[1]));
  EXPECT_EQ(ReadBytes(job.destination / "three.bin"), ReadBytes(job.paths[2]));
}

#if QUILLMERE_POSIX_STANDIN
TEST(CopyControllerFailure, HashSetUpFailureDuringTheRunEndsItAsFailed) {
  ThreeSources job;
  fault_injection::FailOpenProvider(true);
  CopyController controller(job.logPath);
  controller.StartCopy(job.Sources(), job.destination.string());
  WaitForRunEnd(controller);
  fault_injection::ResetHashFaults();

  EXPECT_TRUE(controller.finished);
  EXPECT_FALSE(controller.succeeded);
  EXPECT_EQ(LastErrorSnapshot(), "Unexpected error: BCryptOpenAlgorithmProvider that bai");
  EXPECT_EQ(job.ListedSources(controller).size(), 3u);
}

// In a child that runs as an unprivileged user with no room for one more
// thread (RLIMIT_NPROC is not enforced for root), a start must end at once
// as a failed run instead of staying Active; a second start fails the same way.
// Exit codes: 0 as expected, 2 cannot drop privileges, 1 wrong outcome.
int StartWithoutRoomForAThread(const std::string& logPath) {
  const rlimit none{0, 0};
  if (setrlimit(RLIMIT_NPROC, &none) != 0) return 2;
  if (geteuid() == 0 &&
      (setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0)) {
    return 2;
  }
  CopyController controller(logPath);
  for (int attempt = 0; attempt < 2; ++attempt) {
    controller.StartCopy({"/nonexistent/source"}, "/nonexistent/destination");
    const std::string text = LastErrorSnapshot();
    const bool ended = controller.finished && !controller.running && !controller.succeeded;
    if (!ended || text.rfind("Unexpected error: ", 0) != 0 || text.size() <= 18) return 1;
    if (controller.queueManager == nullptr || controller.worker.joinable()) return 1;
  }
  return 0;
}

TEST(CopyControllerFailure, WorkerThatCannotStartEndsTheRunInsteadOfStayingActive) {
  TempDir dir;
  const pid_t child = fork();
  ASSERT_NE(child, -1);
  if (child == 0) _exit(StartWithoutRoomForAThread(dir.File("errors.log")));
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 2) GTEST_SKIP() << "cannot drop to an unprivileged user here";
  EXPECT_EQ(WEXITSTATUS(status), 0);
}
#endif

}  // namespace
}  // namespace quillmere
