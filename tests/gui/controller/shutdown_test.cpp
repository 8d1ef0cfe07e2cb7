// The controller's end: it cancels, waits for its worker and releases the
// queue, whatever state the run is in.
#include "gui/copy_controller.h"
#include "tests/gui/controller/controller_test_support.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>

namespace quillmere {
namespace {

namespace fs = std::filesystem;
using testing_support::PatternBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;

TEST(CopyControllerShutdown, DestructionWhileARunIsPausedEndsThePauseAndJoins) {
  TempDir dir;
  const fs::path source = dir.path() / "big.bin";
  WriteBytes(source, PatternBytes(200000, 5));
  const fs::path destination = dir.path() / "dst";
  fs::create_directory(destination);

  Gate listed;
  std::atomic<CopyController*> target{nullptr};
  ScopedListingHook hook([&](size_t, const std::string&) {
    // The user pressed "Pause" before the queue took its first item.
    target.load()->controlFlags.paused = true;
    listed.Open();
  });
  auto controller = std::make_unique<CopyController>(dir.File("log.txt"));
  target = controller.get();
  controller->StartCopy({source.string()}, destination.string());
  listed.ArriveAndWait();  // returns once the hook has set the pause
  ASSERT_TRUE(controller->controlFlags.paused);

  controller.reset();  // must not wait for a resume that never comes

  // The run stopped before its first item.
  EXPECT_FALSE(fs::exists(destination / "big.bin"));
}

TEST(CopyControllerShutdown, DestructionWithNoRunStartedTouchesNothing) {
  TempDir dir;
  const std::string logPath = dir.File("log.txt");
  {
    CopyController controller(logPath);
    EXPECT_FALSE(controller.running);
    EXPECT_FALSE(controller.finished);
    EXPECT_FALSE(controller.succeeded);
    EXPECT_EQ(controller.queueManager, nullptr);
    EXPECT_FALSE(controller.worker.joinable());
    EXPECT_EQ(controller.errorLogPath, logPath);
  }
  EXPECT_TRUE(fs::is_empty(dir.path()));
}

}  // namespace
}  // namespace quillmere
