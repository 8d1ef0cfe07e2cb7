#include "gui/copy_controller.h"

#include "engine/text.h"
#include "engine/tree_overlap.h"
#include "platform/win32.h"

#include <exception>
#include <filesystem>
#include <optional>
#include <system_error>
#include <utility>

namespace quillmere {

std::mutex progressMutex;
ProgressInfo sharedProgress;
std::mutex lastErrorMutex;
std::string lastError;

void OnCopyProgress(const ProgressInfo& info) {
  std::lock_guard<std::mutex> lock(progressMutex);
  sharedProgress = info;
}

ErrorAction OnCopyError(const CopyError& error) {
  // Built before the lock so the mutex is held for one assignment only.
  std::string text = error.path + ": " + error.message;
  {
    std::lock_guard<std::mutex> lock(lastErrorMutex);
    lastError = std::move(text);
  }
  // The window offers no retry: every failure gives up its file.
  return SKIP;
}

namespace {

constexpr const char* kLogFileName = "quillmere_errors.log";
constexpr const char* kLogFolderName = "Quillmere";

// The folder text SHGetKnownFolderPath hands out, released with CoTaskMemFree
// on every way out (also after a failed call, which may leave it null).
struct KnownFolderText {
  PWSTR text = nullptr;
  KnownFolderText() = default;
  KnownFolderText(const KnownFolderText&) = delete;
  KnownFolderText& operator=(const KnownFolderText&) = delete;
  ~KnownFolderText() { CoTaskMemFree(text); }
};

}  // namespace

std::string GetErrorLogPath() {
  KnownFolderText appData;
  if (FAILED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &appData.text)) ||
      appData.text == nullptr) {
    // Resolved against the current folder at each write.
    return kLogFileName;
  }
  const std::filesystem::path folder =
      Utf8ToPath(WideToUtf8(WideString(appData.text))) / kLogFolderName;
  // When the folder cannot be made the log's writes fail and are skipped;
  // there is nothing better to do with the error here.
  std::error_code ignored;
  std::filesystem::create_directories(folder, ignored);
  return PathToUtf8(folder / kLogFileName);
}

std::string TargetForSource(const std::string& source, const std::string& destination) {
  return PathToUtf8(Utf8ToPath(destination) / Utf8ToPath(source).filename());
}

CopyController::CopyController(std::string errorLogPath) : errorLogPath(std::move(errorLogPath)) {}

CopyController::~CopyController() {
  // The queue and the engine leave a pause once they see cancel.
  controlFlags.cancelRequested = true;
  if (worker.joinable()) worker.join();
  // Only now: the queue manager stops nothing itself.
  queueManager.reset();
}

void CopyController::StartCopy(const std::vector<std::string>& sources,
                               const std::string& destination) {
  if (running) return;
  if (worker.joinable()) worker.join();

  controlFlags.paused = false;
  controlFlags.cancelRequested = false;
  controlFlags.skipRequested = false;
  {
    std::lock_guard<std::mutex> lock(progressMutex);
    sharedProgress = ProgressInfo{};
  }
  {
    std::lock_guard<std::mutex> lock(lastErrorMutex);
    lastError.clear();
  }

  try {
    InstallNewQueueManager();
    finished = false;
    succeeded = false;
    running = true;
    // std::thread copies sources and destination here, on this thread, so
    // later edits of the window's list and field do not reach the run.
    worker = std::thread(&CopyController::WorkerMain, std::ref(*this), sources, destination);
  } catch (const std::exception& e) {
    // Typically a thread that cannot be started. Left alone, the window
    // would show a run that never ends and refuse every new start.
    RecordFailure("Unexpected error: ", e.what());
    MarkEnded();
  }
}

void CopyController::InstallNewQueueManager() {
  auto fresh = std::make_unique<QueueManager>(OnCopyProgress, OnCopyError, &controlFlags,
                                              errorLogPath);
  // The panel may show the previous queue until the new one is in place.
  std::unique_ptr<QueueManager> previous = std::move(queueManager);
  queueManager = std::move(fresh);
  previous.reset();
}

void CopyController::WorkerMain(CopyController& controller, std::vector<std::string> sources,
                                std::string destination) {
  try {
    QueueManager& queue = *controller.queueManager;
#if QUILLMERE_FAULT_SEAM
    const ListingHook& hook = BeforeListingHook();
#endif
    for (size_t i = 0; i < sources.size(); ++i) {
#if QUILLMERE_FAULT_SEAM
      if (hook) hook(i, sources[i]);
#endif
      const std::string target = TargetForSource(sources[i], destination);
      // A tree that overlaps its target would overwrite files it has yet to
      // read. The window shows why, the log keeps it, and nothing of that
      // source is copied.
      if (const std::optional<CopyError> overlap = TreeOverlapError(sources[i], target)) {
        OnCopyError(*overlap);
        queue.LogError(overlap->path, overlap->stage, overlap->code, overlap->message);
        continue;
      }
      // A rejected source is already in the error log; the next one follows.
      queue.AddSource(sources[i], target);
    }
    controller.succeeded = queue.Run();
  } catch (const std::exception& e) {
    controller.RecordFailure("Unexpected error: ", e.what());
  } catch (...) {
    controller.RecordFailure("Unexpected error (unknown exception)", "");
  }
  controller.MarkEnded();
}

void CopyController::RecordFailure(const char* prefix, const char* detail) noexcept {
  try {
    std::lock_guard<std::mutex> lock(lastErrorMutex);
    lastError = prefix;
    lastError += detail;
    succeeded = false;
  } catch (...) {
    // Memory or the mutex failed us as well: the run still ends as failed,
    // and an exception must not escape the worker thread.
  }
  succeeded = false;
}

void CopyController::MarkEnded() {
  // A reader that sees finished true reads the final succeeded.
  finished = true;
  running = false;
}

#if QUILLMERE_FAULT_SEAM
CopyController::ListingHook& CopyController::BeforeListingHook() {
  static ListingHook hook;
  return hook;
}
#endif

}  // namespace quillmere
