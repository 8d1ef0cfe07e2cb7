// Records and callbacks shared by the engine and both front ends.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

namespace quillmere {

// Where in a copy a failure happened. Values are written to the error log.
enum CopyStage : int32_t {
  OPEN = 0,
  READ = 1,
  WRITE = 2,
  CLOSE = 3,
  CREATE_DIR = 4,
  ALLOCATE = 5,
  VERIFY = 6,
};

// The error callback's answer to a failure.
enum ErrorAction : int32_t {
  SKIP = 0,
  RETRY = 1,
  ABORT = 2,
};

// One failure as the engine reports it.
struct CopyError {
  std::string path;     // UTF-8
  CopyStage stage = OPEN;
  int32_t code = 0;     // Windows error code, 0 when there is none
  std::string message;  // UTF-8
};

// One progress report. The core engine fills the file figures and the speed,
// the queue manager the queue figures (totalCopied, totalBytes).
struct ProgressInfo {
  std::string currentFile;  // UTF-8 source path
  uint64_t fileCopied = 0;
  uint64_t fileSize = 0;
  uint64_t totalCopied = 0;
  uint64_t totalBytes = 0;
  double speed = 0.0;  // MiB/s over the interval since the previous report
};

// Which file an open handle reaches, whatever name or link it came by: the
// volume's serial number and the file's index on it.
struct FileIdentity {
  uint32_t volume = 0;
  uint64_t index = 0;
};

inline bool operator==(const FileIdentity& a, const FileIdentity& b) {
  return a.volume == b.volume && a.index == b.index;
}
inline bool operator<(const FileIdentity& a, const FileIdentity& b) {
  return a.volume != b.volume ? a.volume < b.volume : a.index < b.index;
}

using ProgressCallback = std::function<void(const ProgressInfo&)>;
using ErrorCallback = std::function<ErrorAction(const CopyError&)>;

struct CopyOptions {
  uint64_t smallFileBufferSize = 0;  // sources up to 64 MiB
  uint64_t largeFileBufferSize = 0;  // sources over 512 MiB
  int32_t maxRetries = 0;            // repetitions per block, for its read and its write
  bool verify = false;
};

// The options both front ends copy with: 4 MiB and 16 MiB buffers, two
// repetitions of a failed block, verification on.
inline CopyOptions StandardCopyOptions() {
  CopyOptions options;
  options.smallFileBufferSize = 4ull * 1024 * 1024;
  options.largeFileBufferSize = 16ull * 1024 * 1024;
  options.maxRetries = 2;
  options.verify = true;
  return options;
}

// Set by a front end from its own thread; read by the engine. skipRequested
// is consumed with an atomic exchange.
struct ControlFlags {
  std::atomic<bool> paused{false};
  std::atomic<bool> cancelRequested{false};
  std::atomic<bool> skipRequested{false};
};

}  // namespace quillmere
