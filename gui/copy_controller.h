// The windowed program's copy controller: owns the control flags, the queue
// manager of the current (or last) run and the one worker thread.
#pragma once

#include "engine/queue_manager.h"
#include "engine/types.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quillmere {

// The last progress report of the current run, and the text of its last
// error. Written by the worker, reset by StartCopy, copied by the panel.
extern std::mutex progressMutex;
extern ProgressInfo sharedProgress;
extern std::mutex lastErrorMutex;
extern std::string lastError;

// Progress and error callbacks of every queue manager the controller makes.
void OnCopyProgress(const ProgressInfo& info);
ErrorAction OnCopyError(const CopyError& error);  // always SKIP

// "quillmere_errors.log" in the folder "Quillmere" under the local
// application-data folder (created when missing); the bare file name when
// that folder cannot be had. Never fails.
std::string GetErrorLogPath();

class CopyController {
 public:
  explicit CopyController(std::string errorLogPath);
  // Cancels, joins the worker and destroys the queue manager.
  ~CopyController();
  CopyController(const CopyController&) = delete;
  CopyController& operator=(const CopyController&) = delete;

  // Main thread. Starts a run of sources into destination on a new worker;
  // does nothing while a run is going on.
  void StartCopy(const std::vector<std::string>& sources, const std::string& destination);

  std::string errorLogPath;
  ControlFlags controlFlags;
  std::unique_ptr<QueueManager> queueManager;
  std::thread worker;
  std::atomic<bool> running{false};
  std::atomic<bool> finished{false};
  std::atomic<bool> succeeded{false};
};

}  // namespace quillmere
