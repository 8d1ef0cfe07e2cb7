// The queue of one copy job: listing sources into folder and file items and
// running them through the core engine.
#pragma once

#include "engine/error_log.h"
#include "engine/types.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace quillmere {

class CoreEngine;

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

  // Lists one source into Pending items, appended at the end of the queue.
  // A file gives one file item whose destination is `destination` unchanged.
  // A folder gives its own folder item (to `destination`), then, parents
  // before their contents and each folder in the file system's listing
  // order, an item for every folder and regular file of its tree, placed at
  // the same relative path below `destination`; no item is ever placed
  // outside `destination`. A folder that cannot be opened, the user's own
  // denial included, is logged once and passed over with everything below
  // it; links to folders are listed but not entered. Every file item
  // raises totalFiles and totalBytes. A folder's items are appended once
  // its walk is done. A folder whose tree overlaps `destination` (see
  // tree_overlap.h) is refused whole: one OPEN line with kTreeOverlapCode,
  // nothing queued. True when a file was queued or the folder's walk could
  // be opened; false (one SKIP line in the error log) when the source is
  // missing, cannot be examined, is neither a file nor a folder, cannot be
  // listed, or overlaps its destination. Other listing problems are logged
  // and the walk goes on; nothing file-system related is thrown. Runs on the
  // caller's thread, never during Run.
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

  // Failures met since construction, while listing or running: every
  // failure the core engine reported and every one the queue manager logged
  // itself, whether or not its log line could be written. 0 only when
  // nothing went wrong. Safe from any thread.
  uint64_t GetFailureCount() const;

  // One error-log line with the action SKIP, counted as a failure; takes no
  // lock. A line that cannot be written goes to the error callback instead
  // (its answer unused), so that the failure still reaches the user.
  void LogError(const std::string& path, CopyStage stage, int32_t code,
                const std::string& message);

  // The errno of the first failed opening of the error log, or of the first
  // line that opened but could not be written; 0 while every line reached
  // it. Safe from any thread.
  int ErrorLogOpenFailure() const { return errorLog.FirstOpenFailure(); }

  // Runs every item in order on the calling thread. True when the run went
  // past the last item, false when it stopped at a cancel. A file item whose
  // destination this run wrote already from another source file is refused
  // at its open (OPEN, kNamesMeetCode). An exception (the hasher's set-up,
  // memory) ends the run; it is logged first against the item it stopped
  // (code 8), which counts as skipped.
  bool Run();

 private:
  // Run's steps and the wrappers handed to the core engine (queue_manager.cpp).
  void ForwardProgress(const ProgressInfo& info);
  ErrorAction ForwardError(const CopyError& error);
  void WaitWhilePaused() const;
  bool CancelRequested() const;
  void RunFolderItem(size_t index, const QueueItem& item);
  bool CreateParentFolders(size_t index, const QueueItem& item);
  // False when the run must stop at a cancel seen right after the copy.
  // When the copy throws, stage is the one it was in.
  bool RunFileItem(size_t index, const QueueItem& item, CoreEngine& engine, CopyStage& stage);
  // Logs (code 8, the exception's text) and counts as skipped the item an
  // exception stopped; never throws.
  void RecordEndingFailure(size_t index, const QueueItem& item, CopyStage stage,
                           const char* what);
  // Whether identity is that of a file item's source; the identities are
  // found once per run, when first asked.
  bool IsRunSource(const FileIdentity& identity);
  // Whether this run may write the destination file of a file item; see
  // ItemChecks::claimDestination. Remembers what it allows.
  bool ClaimDestination(const std::string& destination, const FileIdentity& file,
                        const FileIdentity& source, bool existed);
  // A folder this run made (or found inside one it made) at path.
  void NoteMadeFolder(const std::filesystem::path& path);
  bool IsMadeFolder(const std::filesystem::path& path) const;
  // Whether a file reached at finalPath (FinalPathOf's form; empty when
  // unknown) may be a file item's source, by where the sources were listed.
  bool MayHoldRunSource(const std::string& finalPath) const;
  // Note where the listed sources lie, for MayHoldRunSource: a folder
  // source's final path, or a source file's outside every folder source's
  // tree; empty when it could not be found.
  void NoteSourceFolder(const std::string& finalPath);
  void NoteSourceFile(const std::string& finalPath);

  // Listing steps (source_listing.cpp).
  class TreeWalk;
  bool AddFileSource(const std::filesystem::path& sourcePath,
                     const std::filesystem::path& destinationPath);
  bool AddFolderSource(const std::string& source, const std::filesystem::path& sourcePath,
                       const std::filesystem::path& destinationPath);
  // Raises totalFiles by one and totalBytes by size, under the mutex.
  void CountListedFile(uint64_t size);
  // What a folder's walk listed, queued only once the walk is done.
  struct Listing {
    std::vector<QueueItem> items;
    // One per item: where the listing found a file item's source (FinalPathOf's
    // form); empty when it is not to be checked.
    std::vector<std::string> listedPaths;
    // Final paths of file items reached through links, which may lead out
    // of the tree; empty where it could not be found.
    std::vector<std::string> linkedFiles;
    void Add(QueueItem item, std::string listedAt = std::string()) {
      items.push_back(std::move(item));
      listedPaths.push_back(std::move(listedAt));
    }
  };
  // Appends the items as Pending and raises the totals by its file items,
  // in one section under the mutex.
  void AppendListing(Listing listing);
  // AddItem for a file item found at listedAt (FinalPathOf's form; empty
  // when it is not to be checked).
  void AddListedItem(QueueItem item, std::string listedAt);

  // One SKIP line for a file-system failure: the error's Windows code and
  // its message.
  void LogFileSystemError(const std::string& path, CopyStage stage, const std::error_code& error);

  std::vector<QueueItem> items;
  mutable std::mutex mutex;
  uint64_t totalFiles = 0;
  uint64_t totalBytes = 0;
  uint64_t succeededFiles = 0;
  uint64_t processedBytes = 0;
  uint64_t skippedFiles = 0;
  std::atomic<uint64_t> failures{0};
  std::vector<ItemStatus> statuses;
  std::vector<std::string> messages;
  // One per item, at the item's index: where the listing found a file
  // item's source; empty for folders and for sources not checked.
  std::vector<std::string> listedPaths;
  // The identities of the file items' sources, for the current run.
  std::optional<std::set<FileIdentity>> runSources;
  // What the current run wrote, so that no two of its source files meet in
  // one destination file: each destination file's identity with its
  // source's, and the folders it made.
  std::map<FileIdentity, FileIdentity> writtenFiles;
  // As text: a path object keeps a list of its elements, which would make a
  // deep chain of folders cost the square of its depth.
  std::set<std::filesystem::path::string_type> madeFolders;
  // Where the file items' sources lie (see NoteSourceFolder): the folder
  // sources' final paths, the final paths of source files outside them,
  // and whether some source's place could not be found. Written while
  // listing, read by Run, so never both at once.
  std::vector<std::filesystem::path> sourceFolders;
  std::set<std::string> sourceFilesOutside;
  bool sourcePlaceUnknown = false;
  size_t currentIndex = 0;
  ProgressCallback onProgress;
  ErrorCallback onError;
  ControlFlags* controlFlags;
  ErrorLog errorLog;
};

}  // namespace quillmere
