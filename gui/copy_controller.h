// The windowed program's copy controller: owns the control flags, the queue
// manager of the current (or last) run and the one worker thread.
#pragma once

#include "engine/queue_manager.h"
#include "engine/types.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quillmere {

// The last progress report of the current run, and the text of its last
// error. Written by the worker, reset by StartCopy, copied by the panel.
// Each is taken alone, never while holding the other or the queue's mutex.
extern std::mutex progressMutex;
extern ProgressInfo sharedProgress;
extern std::mutex lastErrorMutex;
extern std::string lastError;

// Progress and error callbacks of every queue manager the controller makes.
// Worker thread. OnCopyError stores "<path>: <message>" as lastError.
void OnCopyProgress(const ProgressInfo& info);
ErrorAction OnCopyError(const CopyError& error);  // always SKIP

// "quillmere_errors.log" in the folder "Quillmere" under the local
// application-data folder (created with its parents when missing; a folder
// that cannot be made is not reported); the bare file name when that folder
// cannot be had. Never fails.
std::string GetErrorLogPath();

// Where the worker lists a source: destination joined with the source's last
// path element by the standard path-append rule, so a folder lands as a folder
// of its own name inside destination. An empty last element (a drive root, a
// path ending in a separator) gives destination itself with one separator
// added unless it already ends in one (or, on Windows, is a bare drive).
std::string TargetForSource(const std::string& source, const std::string& destination);

class CopyController {
 public:
  explicit CopyController(std::string errorLogPath);
  // Main thread. Sets cancelRequested, joins the worker (a run in progress
  // stops before its next block or item; a pause ends), then destroys the
  // queue manager.
  ~CopyController();
  CopyController(const CopyController&) = delete;
  CopyController& operator=(const CopyController&) = delete;

  // Main thread. Starts a run of sources into destination on a new worker;
  // does nothing while a run is going on. Joins the worker of an ended run,
  // clears the flags and both shared records, and replaces the queue manager.
  // When the worker cannot be started, the run ends at once as failed:
  // lastError reads "Unexpected error: <what>", finished is true, running
  // false; nothing is thrown.
  void StartCopy(const std::vector<std::string>& sources, const std::string& destination);

  std::string errorLogPath;
  ControlFlags controlFlags;
  std::unique_ptr<QueueManager> queueManager;
  std::thread worker;
  std::atomic<bool> running{false};
  std::atomic<bool> finished{false};
  // Final once finished reads true (stored before it).
  std::atomic<bool> succeeded{false};

 private:
  // Called on the worker thread with (index, source) right before each
  // source is listed. Tests set it, through CopyControllerTestAccess, to
  // stand in for a listing that throws or to hold a run at a known point.
  // Defined and called only where QUILLMERE_FAULT_SEAM is 1 (the controller
  // the test programs link); the shipped program has neither. Declared
  // always, so that the window's library, compiled once for both, sees the
  // same class as the tests do.
  using ListingHook = std::function<void(size_t index, const std::string& source)>;
  static ListingHook& BeforeListingHook();
  friend struct CopyControllerTestAccess;

  // The worker thread's whole job: list every source, run the queue, record
  // the outcome. A folder source whose tree overlaps its target is not
  // listed: it goes to OnCopyError and the log. Takes its own copies of
  // sources and destination.
  static void WorkerMain(CopyController& controller, std::vector<std::string> sources,
                         std::string destination);
  void InstallNewQueueManager();
  // lastError becomes prefix followed by detail, and succeeded false (under
  // lastErrorMutex). Throws nothing, so it is safe in a worker's handler.
  void RecordFailure(const char* prefix, const char* detail) noexcept;
  // The last stores of every run: finished, then running.
  void MarkEnded();
};

}  // namespace quillmere
