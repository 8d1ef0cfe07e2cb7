// A fixture for driving CoreEngine on real files: a temporary folder, the
// control flags, and a recorder of every progress report and error.
#pragma once

#include "engine/core_engine.h"
#include "engine/sha256_hasher.h"
#include "engine/text.h"
#include "platform/win32.h"
#include "tests/support/test_support.h"

#if QUILLMERE_POSIX_STANDIN
#include "platform/posix/fault_injection.h"
#endif

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace quillmere_test {

constexpr uint64_t kKiB = 1024;
constexpr uint64_t kMiB = 1024 * 1024;
// A block size small enough that a few hundred KiB make several blocks.
constexpr uint64_t kSmallBlock = 64 * kKiB;

// The options both programs pass.
inline quillmere::CopyOptions CallerOptions() {
  quillmere::CopyOptions options;
  options.smallFileBufferSize = 4 * kMiB;
  options.largeFileBufferSize = 16 * kMiB;
  options.maxRetries = 2;
  options.verify = true;
  return options;
}

inline quillmere::CopyOptions BlockOptions(uint64_t block = kSmallBlock, bool verify = true,
                                           int32_t maxRetries = 2) {
  quillmere::CopyOptions options = CallerOptions();
  options.smallFileBufferSize = block;
  options.verify = verify;
  options.maxRetries = maxRetries;
  return options;
}

inline std::string HexDigest(const std::vector<uint8_t>& bytes) {
  quillmere::Sha256Hasher hasher;
  if (!bytes.empty()) hasher.Update(bytes.data(), static_cast<uint32_t>(bytes.size()));
  return hasher.FinishHex();
}

inline std::string MismatchMessage(const std::vector<uint8_t>& hashedSource,
                                   const std::vector<uint8_t>& destination) {
  return "Hash SHA-256 khong khop sau khi sao chep (nguon=" + HexDigest(hashedSource) +
         ", dich=" + HexDigest(destination) + ")";
}

#if QUILLMERE_POSIX_STANDIN
// The last block AllocateAligned handed out in this program, and the size it
// was asked for (aligned_block_record.cpp).
struct AlignedBlock {
  const uint8_t* start = nullptr;
  uint64_t size = 0;
};
AlignedBlock LastAlignedBlock();
#endif

class CoreEngineTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetFaults(); }
  void TearDown() override { ResetFaults(); }

  static void ResetFaults() {
#if QUILLMERE_POSIX_STANDIN
    fault_injection::ResetAll();
    fault_injection::SetOpenHook(nullptr);
#endif
  }

  // Writes a source of size pattern bytes and returns its content.
  std::vector<uint8_t> MakeSource(size_t size, uint32_t seed = 7) {
    std::vector<uint8_t> bytes = testing_support::PatternBytes(size, seed);
    testing_support::WriteBytes(quillmere::Utf8ToPath(source), bytes);
    return bytes;
  }

  quillmere::CoreEngine MakeEngine(bool withProgress = true, bool withErrors = true) {
    quillmere::ProgressCallback progress;
    quillmere::ErrorCallback errorCallback;
    if (withProgress) {
      progress = [this](const quillmere::ProgressInfo& info) {
        reports.push_back(info);
        if (onReport) onReport(info);
      };
    }
    if (withErrors) {
      errorCallback = [this](const quillmere::CopyError& error) {
        errors.push_back(error);
        return answer ? answer(error) : quillmere::SKIP;
      };
    }
    return quillmere::CoreEngine(progress, errorCallback, &flags);
  }

  bool Copy(const quillmere::CopyOptions& options) {
    quillmere::CoreEngine engine = MakeEngine();
    return engine.CopySingleFile(source, destination, options);
  }

  // Copies with the engine paused from the start while a second thread sets
  // a skip request and then resumes: the engine waits in its pause before
  // block 1 the whole time, so the order of events does not depend on speed.
  bool CopyWhileSkipArrivesDuringPause() {
    flags.paused = true;
    std::thread controller([this] {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      flags.skipRequested = true;
      flags.paused = false;
    });
    const bool copied = Copy(BlockOptions());
    controller.join();
    return copied;
  }

  std::vector<uint8_t> Destination() const {
    return testing_support::ReadBytes(quillmere::Utf8ToPath(destination));
  }

  // A UTF-8 path in the temporary folder (TempDir::File is for ASCII names).
  std::string Utf8File(const std::string& name) const {
    return quillmere::PathToUtf8(dir.path()) + QUILLMERE_PATH_SEPARATOR + name;
  }

  testing_support::TempDir dir;
  std::string source = dir.File("source.bin");
  std::string destination = dir.File("destination.bin");
  quillmere::ControlFlags flags;
  std::vector<quillmere::ProgressInfo> reports;
  std::vector<quillmere::CopyError> errors;
  // The error callback's answer; SKIP when empty.
  std::function<quillmere::ErrorAction(const quillmere::CopyError&)> answer;
  // Called after a progress report has been recorded.
  std::function<void(const quillmere::ProgressInfo&)> onReport;
};

}  // namespace quillmere_test
