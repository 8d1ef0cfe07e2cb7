// The queue manager: the item queue and its counters under one mutex, and the
// run that takes the items in order through the core engine.
//
// The mutex is held only for short copies and updates, never while a
// callback, the core engine, the error log or the file system runs, so a
// front end's callback may read the getters from inside a run.
#include "engine/queue_manager.h"

#include "engine/core_engine.h"
#include "engine/text.h"
#include "engine/win32_file.h"
#include "platform/win32.h"

#include <chrono>
#include <filesystem>
#include <thread>
#include <utility>

namespace fs = std::filesystem;

namespace quillmere {
namespace {

constexpr std::chrono::milliseconds kPausePoll{50};

// The folder that holds a folder to be made; "D/" names the folder D.
fs::path FolderAbove(fs::path folder) {
  while (!folder.has_filename() && folder.has_relative_path()) folder = folder.parent_path();
  return folder.parent_path();
}

// One form for a folder's path however it was written: "D/", "D/." and
// "D" are one folder.
fs::path FolderKey(const fs::path& folder) {
  fs::path key = folder.lexically_normal();
  if (!key.has_filename() && key.has_relative_path()) key = key.parent_path();
  return key;
}

// Whether path is root or lies below it, compared by whole elements, so
// that a root "/x/S" holds "/x/S/y" but not "/x/S2/y".
bool LiesWithin(const fs::path& path, const fs::path& root) {
  auto element = path.begin();
  for (const fs::path& rootElement : root) {
    if (element == path.end() || *element != rootElement) return false;
    ++element;
  }
  return true;
}

}  // namespace

QueueManager::QueueManager(ProgressCallback onProgress, ErrorCallback onError,
                           ControlFlags* controlFlags, std::string errorLogPath)
    : onProgress(std::move(onProgress)),
      onError(std::move(onError)),
      controlFlags(controlFlags),
      errorLog(std::move(errorLogPath)) {}

// Members go in reverse order of declaration: the log, the callbacks, then
// the three sequences.
QueueManager::~QueueManager() = default;

// An item not listed here may have its source anywhere.
void QueueManager::AddItem(QueueItem item) {
  if (!item.isDirectory) sourcePlaceUnknown = true;
  AddListedItem(std::move(item), std::string());
}

void QueueManager::AddListedItem(QueueItem item, std::string listedAt) {
  std::lock_guard<std::mutex> lock(mutex);
  items.push_back(std::move(item));
  statuses.push_back(ItemStatus::Pending);
  messages.emplace_back();
  listedPaths.push_back(std::move(listedAt));
}

std::vector<QueueItem> QueueManager::GetItems() const {
  std::lock_guard<std::mutex> lock(mutex);
  return items;
}

QueueStats QueueManager::GetStats() const {
  std::lock_guard<std::mutex> lock(mutex);
  QueueStats stats;
  stats.totalFiles = totalFiles;
  stats.totalBytes = totalBytes;
  stats.succeededFiles = succeededFiles;
  stats.processedBytes = processedBytes;
  stats.skippedFiles = skippedFiles;
  return stats;
}

std::vector<std::string> QueueManager::GetMessages() const {
  std::lock_guard<std::mutex> lock(mutex);
  return messages;
}

std::vector<ItemStatus> QueueManager::GetStatuses() const {
  std::lock_guard<std::mutex> lock(mutex);
  return statuses;
}

void QueueManager::SetItemStatus(size_t index, ItemStatus newStatus) {
  std::lock_guard<std::mutex> lock(mutex);
  if (index < statuses.size()) statuses[index] = newStatus;
}

void QueueManager::SetItemMessage(size_t index, const std::string& message) {
  std::lock_guard<std::mutex> lock(mutex);
  if (index < messages.size()) messages[index] = message;
}

uint64_t QueueManager::GetFailureCount() const { return failures.load(); }

void QueueManager::LogError(const std::string& path, CopyStage stage, int32_t code,
                            const std::string& message) {
  ++failures;
  CopyError error;
  error.path = path;
  error.stage = stage;
  error.code = code;
  error.message = message;
  if (errorLog.Write(error, SKIP)) return;
  // With its log line lost the failure would reach nobody: the front end
  // hears of it instead. Nothing is left to decide, so its answer is unused.
  if (onError) onError(error);
}

// The log carries the Windows code and its text, as the rest of the
// engine's lines do.
void QueueManager::LogFileSystemError(const std::string& path, CopyStage stage,
                                      const std::error_code& error) {
  const LibraryFailure failure = DescribeLibraryError(error);
  LogError(path, stage, static_cast<int32_t>(failure.code), failure.message);
}

bool QueueManager::Run() {
  {
    std::lock_guard<std::mutex> lock(mutex);
    succeededFiles = 0;
    processedBytes = 0;
    skippedFiles = 0;
  }
  runSources.reset();
  writtenFiles.clear();
  madeFolders.clear();
  CoreEngine engine([this](const ProgressInfo& info) { ForwardProgress(info); },
                    [this](const CopyError& error) { return ForwardError(error); },
                    controlFlags);
  // Only this thread appends items, and never during a run, so items is
  // read here without the mutex.
  if (items.empty()) return true;
  if (CancelRequested()) return false;
  for (size_t index = 0;;) {
    WaitWhilePaused();
    if (CancelRequested()) return false;
    SetItemStatus(index, ItemStatus::Running);
    currentIndex = index;
    const QueueItem& item = items[index];
    CopyStage stage = item.isDirectory ? CREATE_DIR : OPEN;
    try {
      if (item.isDirectory) {
        RunFolderItem(index, item);
      } else if (!RunFileItem(index, item, engine, stage)) {
        return false;
      }
    } catch (const std::exception& failure) {
      RecordEndingFailure(index, item, stage, failure.what());
      throw;
    }
    ++index;
    if (index >= items.size()) return true;
    if (CancelRequested()) return false;
  }
}

bool QueueManager::CancelRequested() const { return controlFlags->cancelRequested.load(); }

void QueueManager::WaitWhilePaused() const {
  while (controlFlags->paused.load() && !controlFlags->cancelRequested.load()) {
    std::this_thread::sleep_for(kPausePoll);
  }
}

// A folder that exists already is no failure; a folder that cannot be made
// is logged and noted on the item, which still ends Done. The folder itself
// takes its permissions from its source folder where the platform carries
// them over; missing folders above it have no source and are made as usual.
//
// A folder that was there already inside one this run made can only be one
// this run made under another name (a case twin, say), so it counts as made.
void QueueManager::RunFolderItem(size_t index, const QueueItem& item) {
  std::error_code error;
  const fs::path folder = Utf8ToPath(item.destination);
  const fs::path above = FolderAbove(folder);
  if (!above.empty() && fs::create_directories(above, error)) NoteMadeFolder(above);
  bool made = false;
  if (error) {
    LogFileSystemError(item.destination, CREATE_DIR, error);
    SetItemMessage(index, DescribeLibraryError(error).message);
  } else if (const uint32_t code = CreateFolderFrom(item.source, item.destination, made);
             code != 0) {
    const std::string message = FormatWin32Error(static_cast<int32_t>(code));
    LogError(item.destination, CREATE_DIR, static_cast<int32_t>(code), message);
    SetItemMessage(index, message);
  } else if (made || IsMadeFolder(above)) {
    NoteMadeFolder(folder);
  }
  SetItemStatus(index, ItemStatus::Done);
}

// What ends a run by an exception (the hasher's set-up, memory) is one more
// failure of the run: logged against the item it stopped, which counts as
// skipped, so that the summary, the statuses and the log agree. Where even
// that needs memory that is not there, the exception still ends the run.
void QueueManager::RecordEndingFailure(size_t index, const QueueItem& item, CopyStage stage,
                                       const char* what) {
  try {
    LogError(item.source, stage, static_cast<int32_t>(ERROR_NOT_ENOUGH_MEMORY), what);
    std::lock_guard<std::mutex> lock(mutex);
    if (!item.isDirectory) {
      ++skippedFiles;
      processedBytes += item.size;
    }
    statuses[index] = ItemStatus::Skipped;
  } catch (...) {
  }
}

bool QueueManager::RunFileItem(size_t index, const QueueItem& item, CoreEngine& engine,
                               CopyStage& stage) {
  if (!CreateParentFolders(index, item)) {
    std::lock_guard<std::mutex> lock(mutex);
    ++skippedFiles;
    processedBytes += item.size;
    statuses[index] = ItemStatus::Skipped;
    return true;
  }
  ItemChecks checks;
  checks.listedAt = listedPaths[index];
  checks.isRunSource = [this](const FileIdentity& identity) { return IsRunSource(identity); };
  checks.mayHoldRunSource = [this](const std::string& finalPath) {
    return MayHoldRunSource(finalPath);
  };
  checks.claimDestination = [this, &item](const FileIdentity& file, const FileIdentity& source,
                                          bool existed) {
    return ClaimDestination(item.destination, file, source, existed);
  };
  bool copied = false;
  try {
    copied = engine.CopySingleFile(item.source, item.destination, StandardCopyOptions(), checks);
  } catch (...) {
    stage = engine.StageUnderWay();
    throw;
  }
  // A cancel seen here stops the run with the item still Running and
  // counted nowhere, even when its copy finished.
  if (CancelRequested()) return false;
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (copied) {
      ++succeededFiles;
    } else {
      ++skippedFiles;
    }
    processedBytes += item.size;
  }
  SetItemStatus(index, copied ? ItemStatus::Done : ItemStatus::Skipped);
  return true;
}

// Asked only for an existing destination with more than one name, so a run
// that meets none opens no source twice. A source that is gone now is no
// file a destination can share.
bool QueueManager::IsRunSource(const FileIdentity& identity) {
  if (!runSources) {
    runSources.emplace();
    for (const QueueItem& item : items) {
      FileIdentity found;
      if (!item.isDirectory && IdentityAt(item.source, found)) runSources->insert(found);
    }
  }
  return runSources->count(identity) != 0;
}

// A destination written before in this run may be written again only from
// the same source file (the same source listed twice). Only a destination
// that was there at its open needs a look-up; a new one is remembered.
//
// Some file systems (FUSE ones among them) give each name of a file an
// identity of its own, so a case twin's file shows up as another file: one
// that is there already in a folder this run made can only have been
// written by this run, from another name.
bool QueueManager::ClaimDestination(const std::string& destination, const FileIdentity& file,
                                    const FileIdentity& source, bool existed) {
  if (existed) {
    const auto written = writtenFiles.find(file);
    if (written != writtenFiles.end()) return written->second == source;
    if (IsMadeFolder(Utf8ToPath(destination).parent_path())) return false;
  }
  writtenFiles[file] = source;
  return true;
}

void QueueManager::NoteMadeFolder(const fs::path& path) {
  madeFolders.insert(FolderKey(path).native());
}

bool QueueManager::IsMadeFolder(const fs::path& path) const {
  return madeFolders.count(FolderKey(path).native()) != 0;
}

// A destination reached through a link already in the destination may be
// any file; only one that lies where the sources were listed is worth
// asking about by identity, so that re-copying a tree over its copy opens
// no source twice (each existing destination is still looked up among the
// files the run wrote, see ClaimDestination).
bool QueueManager::MayHoldRunSource(const std::string& finalPath) const {
  if (sourcePlaceUnknown || finalPath.empty()) return true;
  if (sourceFilesOutside.count(finalPath) != 0) return true;
  const fs::path reached = Utf8ToPath(finalPath);
  for (const fs::path& folder : sourceFolders) {
    if (LiesWithin(reached, folder)) return true;
  }
  return false;
}

void QueueManager::NoteSourceFolder(const std::string& finalPath) {
  if (finalPath.empty()) {
    sourcePlaceUnknown = true;
  } else {
    sourceFolders.push_back(Utf8ToPath(finalPath));
  }
}

void QueueManager::NoteSourceFile(const std::string& finalPath) {
  if (finalPath.empty()) {
    sourcePlaceUnknown = true;
  } else {
    sourceFilesOutside.insert(finalPath);
  }
}

// Creates the folders above a file item's copy; false, logged and noted on
// the item, when they cannot be made. A bare file name has an empty parent,
// which the library refuses as an invalid argument where Windows calls it
// a path that cannot be found: the log says the latter, with the text the
// library gives for one.
bool QueueManager::CreateParentFolders(size_t index, const QueueItem& item) {
  const fs::path parent = Utf8ToPath(item.destination).parent_path();
  if (parent.empty()) {
    const std::string message = DescribeLibraryError(PathNotFoundError()).message;
    LogError(item.destination, CREATE_DIR, static_cast<int32_t>(ERROR_PATH_NOT_FOUND), message);
    SetItemMessage(index, message);
    return false;
  }
  std::error_code error;
  if (fs::create_directories(parent, error)) NoteMadeFolder(parent);
  if (!error) return true;
  LogFileSystemError(item.destination, CREATE_DIR, error);
  SetItemMessage(index, DescribeLibraryError(error).message);
  return false;
}

// Adds the queue figures to a report of the core engine: the bytes of the
// files finished in this run plus the current file's, and the listed total.
void QueueManager::ForwardProgress(const ProgressInfo& info) {
  if (!onProgress) return;
  ProgressInfo report = info;
  {
    std::lock_guard<std::mutex> lock(mutex);
    report.totalBytes = totalBytes;
    report.totalCopied = processedBytes + info.fileCopied;
  }
  onProgress(report);
}

// Asks the front end (SKIP when it has no callback), logs the failure with
// that answer and keeps its message on the current item. The front end has
// heard of it already, so a lost log line needs nothing more.
ErrorAction QueueManager::ForwardError(const CopyError& error) {
  ++failures;
  const ErrorAction action = onError ? onError(error) : SKIP;
  errorLog.Write(error, action);
  SetItemMessage(currentIndex, error.message);
  return action;
}

}  // namespace quillmere
