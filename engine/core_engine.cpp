#include "engine/core_engine.h"

#include "engine/buffer_size.h"
#include "engine/file_owners.h"
#include "engine/sha256_hasher.h"
#include "engine/win32_file.h"

#include <chrono>
#include <cstring>
#include <memory>
#include <optional>
#include <thread>
#include <utility>

namespace quillmere {

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint64_t kMiB = 1024 * 1024;
constexpr uint64_t kSmallSourceLimit = 64 * kMiB;
constexpr uint64_t kLargeSourceLimit = 512 * kMiB;
constexpr uint64_t kMiddleBufferSize = 8 * kMiB;
constexpr uint64_t kMinimumAlignment = 4096;
constexpr uint32_t kVerifyBufferSize = 1024 * 1024;
constexpr auto kPauseStep = std::chrono::milliseconds(50);
constexpr auto kReportInterval = std::chrono::milliseconds(100);

const char kAllocateMessage[] = "Khong the cap phat buffer can le";
const char kMismatchPrefix[] = "Hash SHA-256 khong khop sau khi sao chep (nguon=";
const char kSizelessSourceMessage[] =
    "File nguon bao kich thuoc 0 nhung van co du lieu khi doc, khong the sao chep chinh xac";

// A source that says it is empty but gives bytes when read (a file of a
// kernel pseudo file system) cannot be copied by its size: a copy would be
// empty and still "verified".
constexpr uint32_t kSizelessSourceCode = 50;  // ERROR_NOT_SUPPORTED

// Windows reports no code for a write that "succeeds" without writing; this
// is the one it uses for a device that would not take the data.
constexpr uint32_t kWriteFaultCode = 29;  // ERROR_WRITE_FAULT

// A source whose size or last-write time changed between its open and its
// last read (another program wrote it; on Windows the share mode keeps
// writers out, elsewhere nothing does): the copy matches no state of it.
constexpr uint32_t kChangedSourceCode = 1006;  // ERROR_FILE_INVALID
const char kChangedSourceMessage[] =
    "File nguon da bi thay doi trong khi dang doc, ban sao khong dang tin cay";

// A source opened somewhere else than where the listing found it: a folder
// on its path was replaced (by a link, say) after the listing, and the open
// went through whatever stands there now.
constexpr uint32_t kMovedSourceCode = 4395;  // ERROR_REPARSE_POINT_ENCOUNTERED
const char kMovedSourceMessage[] =
    "File nguon khong con nam o vi tri da liet ke (mot thu muc tren duong dan da bi thay, "
    "vi du bang lien ket), khong doc";

// Reads the file through the handle into buffer (length bytes, whole reads)
// to its end or until more than size bytes are hashed; false after a failed
// read, with its code. Only bytes the reads filled are hashed, so the buffer
// needs no clearing.
//
// A file that grew past size must show it in total. Every read asks for a
// whole buffer, so the last one reaches past size unless size is a whole
// number of buffers (0 included): only then is one more read made.
bool HashFile(HANDLE handle, uint8_t* buffer, uint32_t length, uint64_t size,
              Sha256Hasher& hasher, uint64_t& total, uint32_t& code) {
  const bool readPastSize = size % length == 0;
  total = 0;
  while (total < size || (readPastSize && total == size)) {
    uint32_t bytesRead = 0;
    if (!ReadChunk(handle, buffer, length, bytesRead, code)) return false;
    if (bytesRead == 0) break;
    hasher.Update(buffer, bytesRead);
    total += bytesRead;
  }
  return true;
}

// The working state of one CopySingleFile call. Everything it holds is
// released by its owners when the call ends, however it ends.
class FileCopy {
 public:
  FileCopy(CoreEngine& engine, const ProgressCallback& onProgress, ControlFlags& flags,
           const std::string& source, const std::string& destination,
           const CopyOptions& options, const ItemChecks& checks, CopyStage& stage)
      : engine(engine),
        onProgress(onProgress),
        flags(flags),
        source(source),
        destination(destination),
        options(options),
        checks(checks),
        stage(stage) {}

  bool Run() {
    stage = OPEN;
    Measure();
    if (!AllocateBuffer() || !OpenSourceFile()) return false;
    if (!SourceIsWhereListed() || !TakeSourceFacts()) return false;
    if (size == 0 && !SourceIsEmpty()) return false;
    if (!OpenDestinationFile()) return false;
    StartCopy();
    if (size > 0 && !CopyBlocks()) return false;
    if (options.verify) sourceHex = hasher->FinishHex();
    destinationHandle.Close();
    if (!CutToFinalSize() || !SourceUnchanged()) return false;
    sourceHandle.Close();
    if (size == 0) ReportEmptyFile();
    if (!options.verify) return true;
    return engine.VerifyCopy(destination, size, sourceHex);
  }

 private:
  void Measure() {
    size = GetFileSize64(source);
    sector = GetSectorSize(destination);
    bufferSize = ChooseBufferSize(size, sector, options);
  }

  bool AllocateBuffer() {
    void* block = AllocateAligned(BufferAllocationSize(bufferSize, sector), BufferAlignment(sector));
    buffer.reset(static_cast<uint8_t*>(block));
    if (buffer) return true;
    ErrorAction ignored = ABORT;
    engine.ReportError(source, ALLOCATE, 0, kAllocateMessage, ignored);
    return false;
  }

  bool OpenSourceFile() { return TakeOpened(OpenSource(source), source, sourceHandle); }

  // One question of the opened handle; names compared exactly, since both
  // come from the same call.
  bool SourceIsWhereListed() {
    if (checks.listedAt.empty()) return true;
    const std::string reached = FinalPathOf(sourceHandle.get());
    if (reached.empty()) {
      ReportCode(source, OPEN, GetLastWin32Error());
      return false;
    }
    if (reached == checks.listedAt) return true;
    ErrorAction ignored = ABORT;
    engine.ReportError(source, OPEN, static_cast<int32_t>(kMovedSourceCode), kMovedSourceMessage,
                       ignored);
    return false;
  }

  // From the handle, so that a rename of the source while it is read
  // changes nothing; as its open saw them, before any byte was read.
  bool TakeSourceFacts() {
    if (GetFileFactsAtOpen(sourceHandle.get(), sourceAtOpen)) return true;
    ReportCode(source, OPEN, GetLastWin32Error());
    return false;
  }

  // Asked after the final sizing, so that a copy written onto its own
  // source through another view of it (an overlay, where no share check
  // sees the two as one) is back at the source's size. Its writes still
  // moved the last-write time: a source that kept its size and still holds
  // exactly the bytes that were read has not changed.
  bool SourceUnchanged() {
    stage = READ;
    FileFacts now;
    if (!GetFileFacts(sourceHandle.get(), now)) {
      ReportCode(source, READ, GetLastWin32Error());
      return false;
    }
    if (now.size == sourceAtOpen.size && now.lastWrite == sourceAtOpen.lastWrite) return true;
    if (now.size == sourceAtOpen.size && options.verify && SourceHoldsWhatWasRead()) return true;
    ErrorAction ignored = ABORT;
    engine.ReportError(source, READ, static_cast<int32_t>(kChangedSourceCode),
                       kChangedSourceMessage, ignored);
    return false;
  }

  // One read of a source measured as empty, before the destination is
  // touched. It is no block: no flag is looked at (a pending skip stays set)
  // and it is not repeated.
  bool SourceIsEmpty() {
    uint32_t bytesRead = 0;
    uint32_t code = 0;
    if (!ReadChunk(sourceHandle.get(), buffer.get(), static_cast<uint32_t>(bufferSize), bytesRead,
                   code)) {
      ReportCode(source, READ, code);
      return false;
    }
    if (bytesRead == 0) return true;
    ErrorAction ignored = ABORT;
    engine.ReportError(source, READ, static_cast<int32_t>(kSizelessSourceCode),
                       kSizelessSourceMessage, ignored);
    return false;
  }

  bool OpenDestinationFile() {
    const ProtectedFiles runSources{checks.mayHoldRunSource, checks.isRunSource};
    DestinationClaim claim;
    if (checks.claimDestination) {
      claim = [this](const FileIdentity& file, bool existed) {
        return checks.claimDestination(file, sourceAtOpen.identity, existed);
      };
    }
    const OpenResult opened =
        OpenDestination(destination, size, sourceHandle.get(), runSources, claim);
    if (opened.ok || opened.errorCode != kNamesMeetCode) {
      return TakeOpened(opened, destination, destinationHandle);
    }
    ErrorAction ignored = ABORT;
    engine.ReportError(destination, OPEN, static_cast<int32_t>(kNamesMeetCode), kNamesMeetMessage,
                       ignored);
    return false;
  }

  // Gives an opened handle to its owner, or reports why the open failed.
  bool TakeOpened(const OpenResult& opened, const std::string& path, FileHandle& owner) {
    owner = FileHandle(opened.handle);
    if (opened.ok) return true;
    ReportCode(path, OPEN, opened.errorCode);
    return false;
  }

  void StartCopy() {
    progress.currentFile = source;
    progress.fileSize = size;
    copied = 0;
    lastReportTime = Clock::now();
    copiedAtLastReport = 0;
    // Set up even without verification: a hashing provider that cannot be
    // had ends the copy the same way in both modes.
    stage = READ;
    hasher.emplace();
  }

  // True when the loop ran to its end or the source ended early; false
  // after a stop (skip or cancel) or a give-up.
  bool CopyBlocks() {
    while (copied < size) {
      if (StopRequested()) return false;
      uint32_t bytesRead = 0;
      stage = READ;
      if (!ReadBlock(bytesRead)) return false;
      if (bytesRead == 0) return true;
      ClearSectorTail(bytesRead);
      if (options.verify) hasher->Update(buffer.get(), bytesRead);
      stage = WRITE;
      if (!WriteBlock(bytesRead)) return false;
      copied += bytesRead;
      ReportProgressIfDue(Clock::now());
    }
    return true;
  }

  // Reads the source once more from its start through the same handle; any
  // failure counts as a difference.
  bool SourceHoldsWhatWasRead() {
    if (!MoveToStart(sourceHandle.get())) return false;
    Sha256Hasher again;
    uint64_t total = 0;
    uint32_t code = 0;
    return HashFile(sourceHandle.get(), buffer.get(), static_cast<uint32_t>(bufferSize), size,
                    again, total, code) &&
           total == size && again.FinishHex() == sourceHex;
  }

  // The flags in their fixed order: cancel, skip (consumed), pause, cancel.
  bool StopRequested() {
    if (flags.cancelRequested.load()) return true;
    if (flags.skipRequested.exchange(false)) return true;
    WaitWhilePaused();
    return flags.cancelRequested.load();
  }

  void WaitWhilePaused() {
    while (flags.paused.load()) {
      if (flags.cancelRequested.load()) return;
      std::this_thread::sleep_for(kPauseStep);
    }
  }

  // A write is raised to whole sectors. After a read that ended inside a
  // sector, the rest of that sector holds an earlier block's bytes unless the
  // read cleared it (an unbuffered read does, a buffered one not); where the
  // source ended early the final size keeps that sector, so it is cleared here.
  void ClearSectorTail(uint32_t bytesRead) {
    if (sector == 0 || bytesRead % sector == 0) return;
    std::memset(buffer.get() + bytesRead, 0, sector - bytesRead % sector);
  }

  // Every read asks for the whole buffer, the last block's too.
  bool ReadBlock(uint32_t& bytesRead) {
    int32_t retries = 0;
    for (;;) {
      uint32_t code = 0;
      bytesRead = 0;
      if (ReadChunk(sourceHandle.get(), buffer.get(), static_cast<uint32_t>(bufferSize), bytesRead,
                    code)) {
        return true;
      }
      if (!RetryAfterFailure(source, READ, code, retries)) return false;
    }
  }

  // Writes length bytes of the buffer; a repetition resumes at the first
  // byte not yet written, and the block's retries count across partial
  // successes.
  bool WriteBlock(uint32_t length) {
    uint32_t written = 0;
    int32_t retries = 0;
    while (written < length) {
      uint32_t count = 0;
      uint32_t code = 0;
      if (WriteRest(written, length - written, count, code)) {
        written += count;
      } else if (!RetryAfterFailure(destination, WRITE, code, retries)) {
        return false;
      }
    }
    return true;
  }

  // A write that succeeds without writing anything would never advance the
  // block; it counts as a failed write.
  bool WriteRest(uint32_t offset, uint32_t length, uint32_t& count, uint32_t& code) {
    if (!WriteChunk(destinationHandle.get(), buffer.get() + offset, length, sector, count, code)) {
      return false;
    }
    if (count > 0) return true;
    code = kWriteFaultCode;
    return false;
  }

  // Reports a failed read or write and says whether to repeat it: only on a
  // RETRY answer, and only while the counter is below maxRetries.
  bool RetryAfterFailure(const std::string& path, CopyStage stage, uint32_t code,
                         int32_t& retries) {
    ErrorAction action = ReportCode(path, stage, code);
    if (action != RETRY || retries >= options.maxRetries) return false;
    ++retries;
    return true;
  }

  ErrorAction ReportCode(const std::string& path, CopyStage stage, uint32_t code) {
    const int32_t signedCode = static_cast<int32_t>(code);
    ErrorAction action = ABORT;
    engine.ReportError(path, stage, signedCode, FormatWin32Error(signedCode), action);
    return action;
  }

  // At most one report per interval, plus the one for the block that
  // completes the file.
  void ReportProgressIfDue(Clock::time_point now) {
    if (!onProgress) return;
    const Clock::duration elapsed = now - lastReportTime;
    if (elapsed < kReportInterval && copied < size) return;
    const int64_t nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count();
    const double seconds = static_cast<double>(nanoseconds) / 1e9;
    const uint64_t bytes = copied - copiedAtLastReport;
    progress.fileCopied = copied;
    progress.speed = seconds > 0 ? static_cast<double>(bytes) / static_cast<double>(kMiB) / seconds
                                 : 0.0;
    onProgress(progress);
    lastReportTime = now;
    copiedAtLastReport = copied;
  }

  void ReportEmptyFile() {
    if (!onProgress) return;
    progress.fileCopied = 0;
    progress.speed = 0.0;
    onProgress(progress);
  }

  // Runs with the destination's handle closed, since it was opened without
  // sharing (the source's, a different file, stays open for the check
  // after). Cuts the sector tail of the last write, always to the measured
  // size.
  bool CutToFinalSize() {
    stage = WRITE;
    if (SetFinalSize(destination, size)) return true;
    const uint32_t code = GetLastWin32Error();
    ReportCode(destination, WRITE, code);
    return false;
  }

  CoreEngine& engine;
  const ProgressCallback& onProgress;
  ControlFlags& flags;
  const std::string& source;
  const std::string& destination;
  const CopyOptions& options;
  const ItemChecks& checks;
  CopyStage& stage;

  uint64_t size = 0;
  FileFacts sourceAtOpen;
  uint32_t sector = 0;
  uint64_t bufferSize = 0;
  AlignedBuffer buffer;
  FileHandle sourceHandle;
  FileHandle destinationHandle;
  std::optional<Sha256Hasher> hasher;
  std::string sourceHex;  // of the bytes read, with verification
  ProgressInfo progress;
  uint64_t copied = 0;
  Clock::time_point lastReportTime;
  uint64_t copiedAtLastReport = 0;
};

}  // namespace

uint64_t ChooseBufferSize(uint64_t sourceSize, uint32_t sectorSize, const CopyOptions& options) {
  uint64_t size = options.largeFileBufferSize;
  if (sourceSize <= kSmallSourceLimit) {
    size = options.smallFileBufferSize;
  } else if (sourceSize <= kLargeSourceLimit) {
    size = kMiddleBufferSize;
  }
  if (sectorSize != 0 && size % sectorSize != 0) size += sectorSize - size % sectorSize;
  return size;
}

uint64_t BufferAlignment(uint32_t sectorSize) {
  return sectorSize > kMinimumAlignment ? sectorSize : kMinimumAlignment;
}

uint64_t BufferAllocationSize(uint64_t bufferSize, uint32_t sectorSize) {
  return bufferSize + sectorSize;
}

CoreEngine::CoreEngine(ProgressCallback onProgress, ErrorCallback onError,
                       ControlFlags* controlFlags)
    : onProgress(std::move(onProgress)), onError(std::move(onError)), controlFlags(controlFlags) {}

// Members go in reverse order: onError first, then onProgress.
CoreEngine::~CoreEngine() = default;

bool CoreEngine::CopySingleFile(const std::string& source, const std::string& destination,
                                const CopyOptions& options) {
  return CopySingleFile(source, destination, options, ItemChecks());
}

bool CoreEngine::CopySingleFile(const std::string& source, const std::string& destination,
                                const CopyOptions& options, const ItemChecks& checks) {
  FileCopy copy(*this, onProgress, *controlFlags, source, destination, options, checks,
                stageUnderWay);
  return copy.Run();
}

void CoreEngine::ReportError(const std::string& path, CopyStage stage, int32_t code,
                             const std::string& message, ErrorAction& action) {
  if (!onError) {
    action = ABORT;
    return;
  }
  CopyError error;
  error.path = path;
  error.stage = stage;
  error.code = code;
  error.message = message;
  action = onError(error);
}

bool CoreEngine::VerifyCopy(const std::string& destination, uint64_t size,
                            const std::string& sourceHex) {
  stageUnderWay = VERIFY;
  ErrorAction ignored = ABORT;
  const OpenResult opened = OpenForVerify(destination);
  FileHandle handle(opened.handle);
  if (!opened.ok) {
    const int32_t code = static_cast<int32_t>(opened.errorCode);
    ReportError(destination, VERIFY, code, FormatWin32Error(code), ignored);
    return false;
  }
  Sha256Hasher hasher;
  uint64_t total = 0;
  uint32_t readCode = 0;
  // A 1 MiB buffer of the heap: a buffered handle needs no alignment, and
  // zero-filling it for every file would cost more than re-reading a small
  // file.
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[kVerifyBufferSize]);
  if (!HashFile(handle.get(), buffer.get(), kVerifyBufferSize, size, hasher, total, readCode)) {
    const int32_t code = static_cast<int32_t>(readCode);
    ReportError(destination, VERIFY, code, FormatWin32Error(code), ignored);
    return false;
  }
  handle.Close();
  // A copy that came back shorter or longer than the source (another
  // program changed it) fails like one whose bytes differ: with the digest
  // of what was read.
  const std::string destinationHex = hasher.FinishHex();
  if (total == size && destinationHex == sourceHex) return true;
  ReportError(destination, VERIFY, 0,
              kMismatchPrefix + sourceHex + ", dich=" + destinationHex + ")", ignored);
  return false;
}

}  // namespace quillmere
