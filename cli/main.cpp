// quillmere_cli: copies one source to one destination. A folder source is
// listed into a queue and run by the queue manager; anything else is copied
// as one file by the core engine. The copy runs on one worker thread while
// the main thread waits; the summary or result line follows, then the exit
// code: 0 only when everything was copied and verified, 1 otherwise (a
// folder run that reached its end after any failure included). A folder
// source whose tree overlaps the destination is refused with one error line
// before anything is created.
//
// Text that cannot be written (an output pipe closed by its reader, a full
// disk) is lost; it never ends or changes the copy, nor the exit code.
//
// No exception ends the program uncaught: each is reported as one
// "[LOI] <step> that bai: ..." line on standard error and gives exit code 1.

#include "cli/arguments.h"
#include "cli/console_output.h"
#include "engine/core_engine.h"
#include "engine/queue_manager.h"
#include "engine/text.h"
#include "engine/tree_overlap.h"
#include "platform/win32.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace quillmere {
namespace {

// A bare name: the log lands in the current folder at each write.
const char kErrorLogPath[] = "quillmere_errors.log";

// The step of the main thread under way, named in the failure line should
// it throw.
using Step = const char*;

// Follows links. A missing path is no folder; a status that cannot be found
// out for another reason throws.
bool IsFolder(const std::string& source) {
  return std::filesystem::is_directory(std::filesystem::status(Utf8ToPath(source)));
}

// The worker's body: runs the copy and stores its result. An exception is
// reported here, on the worker, and leaves result false.
void RunCopy(const std::function<bool()>& copy, Step copyStep, bool& result) noexcept {
  try {
    result = copy();
  } catch (const std::exception& error) {
    PrintProgramFailure(copyStep, error.what());
  } catch (...) {
    PrintProgramFailure(copyStep, nullptr);
  }
}

// Runs copy on one worker thread and waits for it; the main thread writes
// nothing meanwhile, so output never interleaves.
bool RunOnWorker(const std::function<bool()>& copy, Step copyStep, Step& step) {
  bool result = false;
  step = "Khoi dong luong sao chep";
  std::thread worker(RunCopy, std::cref(copy), copyStep, std::ref(result));
  step = "Cho luong sao chep";
  try {
    worker.join();
  } catch (const std::exception& error) {
    // The worker may still be using this frame, so nothing here may be
    // unwound: leave the process at once.
    PrintProgramFailure(step, error.what());
    std::fflush(stdout);
    std::_Exit(1);
  }
  return result;
}

bool CopyFolder(const std::string& source, const std::string& destination,
                ControlFlags& controlFlags, Step& step) {
  step = "Tao hang doi";
  QueueManager queue(PrintProgress, PrintCopyError, &controlFlags, kErrorLogPath);
  step = "Liet ke thu muc nguon";
  // Listing failures are in the error log (or, where their line was lost,
  // on standard error); whatever was listed is copied.
  queue.AddSource(source, destination);
  const bool finished =
      RunOnWorker([&queue] { return queue.Run(); }, "Sao chep cay thu muc", step);
  step = "Tong ket hang doi";
  // Failures whose lines it lost (not opened, or not written) have had error
  // lines; say once that the log is incomplete, and why.
  const int logFailure = queue.ErrorLogOpenFailure();
  if (logFailure != 0) PrintErrorLogIncomplete(kErrorLogPath, logFailure);
  const QueueStats stats = queue.GetStats();
  PrintQueueSummary(stats);
  // A run reaches its end after failures too; only a run that met none is
  // a full copy.
  return finished && stats.skippedFiles == 0 && queue.GetFailureCount() == 0;
}

bool CopyOneFile(const std::string& source, const std::string& destination,
                 ControlFlags& controlFlags, Step& step) {
  step = "Tao bo may sao chep";
  CoreEngine engine(PrintProgress, PrintCopyError, &controlFlags);
  const bool result = RunOnWorker(
      [&] { return engine.CopySingleFile(source, destination, StandardCopyOptions()); },
      "Sao chep file", step);
  PrintSingleFileResult(result);
  return result;
}

int RunProgram(int argc, char** argv, Step& step) {
  step = "Doc dong lenh";
  // Exactly two non-empty arguments: a third could be meant as a folder for
  // the first two (copying the first over the second would lose it), and an
  // empty one would make paths relative to the current folder.
  const std::vector<std::string> arguments = CommandLineArguments(argc, argv, 3);
  if (arguments.size() != 2 || arguments[0].empty() || arguments[1].empty()) {
    PrintUsage();
    return 1;
  }
  const std::string& source = arguments[0];
  const std::string& destination = arguments[1];
  // Never set: the console program does not pause, skip or cancel.
  ControlFlags controlFlags;
  step = "Kiem tra nguon";
  if (!IsFolder(source)) return CopyOneFile(source, destination, controlFlags, step) ? 0 : 1;
  // A tree copied into itself, or from inside its destination onto itself,
  // would overwrite files it has yet to read: refused before anything is
  // created, the error log included.
  step = "Kiem tra thu muc dich";
  if (const std::optional<CopyError> overlap = TreeOverlapError(source, destination)) {
    PrintCopyError(*overlap);
    return 1;
  }
  return CopyFolder(source, destination, controlFlags, step) ? 0 : 1;
}

}  // namespace
}  // namespace quillmere

int main(int argc, char** argv) {
  // An output nobody reads any more loses its text, and a copy that reaches
  // the file size limit fails; either way the run goes on.
  IgnoreFailingWriteSignals();
  quillmere::Step step = "Khoi dong chuong trinh";
  try {
    return quillmere::RunProgram(argc, argv, step);
  } catch (const std::exception& error) {
    quillmere::PrintProgramFailure(step, error.what());
  } catch (...) {
    quillmere::PrintProgramFailure(step, nullptr);
  }
  return 1;
}
