// The queue of one copy job: listing sources into folder and file items and
// running them through the core engine.
#pragma once

#include "engine/error_log.h"
#include "engine/types.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace quillmere {

struct QueueItem {
  std::string source;       // UTF-8
  std::string destination;  // UTF-8: the copy, or the folder to create
  uint64_t size = 0;        // bytes when listed; 0 for a folder
  bool isDirectory = false;
};

enum class ItemStatus : int32_t {
  Pending = 0,
  Running = 1,
  Done = 2,
  Skipped = 3,
};

struct QueueStats {
  uint64_t totalFiles = 0;
  uint64_t totalBytes = 0;
  uint64_t succeededFiles = 0;
  uint64_t processedBytes = 0;
  uint64_t skippedFiles = 0;
};

class QueueManager {
 public:
  // controlFlags is not owned, never null, and must outlive the queue
  // manager. Touches no file.
  QueueManager(ProgressCallback onProgress, ErrorCallback onError, ControlFlags* controlFlags,
               std::string errorLogPath);
  ~QueueManager();
  QueueManager(const QueueManager&) = delete;
  QueueManager& operator=(const QueueManager&) = delete;

  // Lists one source (a file, or a folder and its whole tree) into items
  // below destination. False when the source is rejected; listing problems
  // go to the error log and are never thrown. Not during a run.
  bool AddSource(const std::string& source, const std::string& destination);

  // Appends an item as Pending with an empty message.
  void AddItem(QueueItem item);

  // Copies taken under the mutex; safe from any thread, also during a run
  // and from inside a callback.
  std::vector<QueueItem> GetItems() const;
  QueueStats GetStats() const;
  std::vector<std::string> GetMessages() const;
  std::vector<ItemStatus> GetStatuses() const;

  // An index at or beyond the number of items is ignored.
  void SetItemStatus(size_t index, ItemStatus newStatus);
  void SetItemMessage(size_t index, const std::string& message);

  // One error-log line with the action SKIP; takes no lock.
  void LogError(const std::string& path, CopyStage stage, int32_t code,
                const std::string& message);

  // Runs every item in order on the calling thread. True when the run went
  // past the last item, false when it stopped at a cancel.
  bool Run();

 private:
  std::vector<QueueItem> items;
  mutable std::mutex mutex;
  uint64_t totalFiles = 0;
  uint64_t totalBytes = 0;
  uint64_t succeededFiles = 0;
  uint64_t processedBytes = 0;
  uint64_t skippedFiles = 0;
  std::vector<ItemStatus> statuses;
  std::vector<std::string> messages;
  size_t currentIndex = 0;
  ProgressCallback onProgress;
  ErrorCallback onError;
  ControlFlags* controlFlags;
  ErrorLog errorLog;
};

}  // namespace quillmere
