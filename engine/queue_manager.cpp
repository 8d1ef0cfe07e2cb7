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

// The text of ERROR_PATH_NOT_FOUND; on POSIX hosts the library's own text
// for the errno behind it.
std::string PathNotFoundMessage() {
  if (QUILLMERE_POSIX_STANDIN) return std::generic_category().message(ENOENT);
  return std::system_category().message(static_cast<int>(ERROR_PATH_NOT_FOUND));
}

// The message of a file-system error whose Windows code is code: the system
// error category's text for that code. On POSIX hosts the library's own text
// for the errno says the same in the user's language.
std::string MessageOf(const std::error_code& error, int32_t code) {
  if (QUILLMERE_POSIX_STANDIN) return error.message();
  return std::system_category().message(code);
}

// The folder that holds a folder to be made; "D/" names the folder D.
fs::path FolderAbove(fs::path folder) {
  while (!folder.has_filename() && folder.has_relative_path()) folder = folder.parent_path();
  return folder.parent_path();
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

void QueueManager::AddItem(QueueItem item) {
  std::lock_guard<std::mutex> lock(mutex);
  items.push_back(std::move(item));
  statuses.push_back(ItemStatus::Pending);
  messages.emplace_back();
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
  errorLog.Write(error, SKIP);
}

void QueueManager::LogFileSystemError(const std::string& path, CopyStage stage,
                                      const std::error_code& error) {
  const int32_t code = Win32CodeOf(error);
  LogError(path, stage, code, MessageOf(error, code));
}

// The file-system library may report C-library errno values (the generic
// category, and on POSIX hosts the system category too); the log carries
// the Windows code, as the rest of the engine's lines do. A Windows system
// category code already is one.
int32_t QueueManager::Win32CodeOf(const std::error_code& error) {
  const bool errnoValue = error.category() == std::generic_category() ||
                          (QUILLMERE_POSIX_STANDIN && error.category() == std::system_category());
  if (errnoValue) return static_cast<int32_t>(Win32ErrorFromErrno(error.value()));
  return static_cast<int32_t>(error.value());
}

bool QueueManager::Run() {
  {
    std::lock_guard<std::mutex> lock(mutex);
    succeededFiles = 0;
    processedBytes = 0;
    skippedFiles = 0;
  }
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
    if (item.isDirectory) {
      RunFolderItem(index, item);
    } else if (!RunFileItem(index, item, engine)) {
      return false;
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
void QueueManager::RunFolderItem(size_t index, const QueueItem& item) {
  std::error_code error;
  const fs::path above = FolderAbove(Utf8ToPath(item.destination));
  if (!above.empty()) fs::create_directories(above, error);
  if (error) {
    LogFileSystemError(item.destination, CREATE_DIR, error);
    SetItemMessage(index, MessageOf(error, Win32CodeOf(error)));
  } else if (const uint32_t code = CreateFolderFrom(item.source, item.destination); code != 0) {
    const std::string message = FormatWin32Error(static_cast<int32_t>(code));
    LogError(item.destination, CREATE_DIR, static_cast<int32_t>(code), message);
    SetItemMessage(index, message);
  }
  SetItemStatus(index, ItemStatus::Done);
}

bool QueueManager::RunFileItem(size_t index, const QueueItem& item, CoreEngine& engine) {
  if (!CreateParentFolders(index, item)) {
    std::lock_guard<std::mutex> lock(mutex);
    ++skippedFiles;
    processedBytes += item.size;
    statuses[index] = ItemStatus::Skipped;
    return true;
  }
  const bool copied = engine.CopySingleFile(item.source, item.destination, StandardCopyOptions());
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

// Creates the folders above a file item's copy; false, logged and noted on
// the item, when they cannot be made. A bare file name has an empty parent,
// which the library refuses as an invalid argument where Windows calls it
// a path that cannot be found: the log says the latter.
bool QueueManager::CreateParentFolders(size_t index, const QueueItem& item) {
  const fs::path parent = Utf8ToPath(item.destination).parent_path();
  if (parent.empty()) {
    const std::string message = PathNotFoundMessage();
    LogError(item.destination, CREATE_DIR, static_cast<int32_t>(ERROR_PATH_NOT_FOUND), message);
    SetItemMessage(index, message);
    return false;
  }
  std::error_code error;
  fs::create_directories(parent, error);
  if (!error) return true;
  LogFileSystemError(item.destination, CREATE_DIR, error);
  SetItemMessage(index, MessageOf(error, Win32CodeOf(error)));
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
// that answer and keeps its message on the current item.
ErrorAction QueueManager::ForwardError(const CopyError& error) {
  ++failures;
  const ErrorAction action = onError ? onError(error) : SKIP;
  errorLog.Write(error, action);
  SetItemMessage(currentIndex, error.message);
  return action;
}

}  // namespace quillmere
