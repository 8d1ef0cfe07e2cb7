// Copies one file: aligned unbuffered reads and write-through writes, SHA-256
// of the source while it is read, a re-read of the copy to verify it.
#pragma once

#include "engine/types.h"

#include <cstdint>
#include <functional>
#include <string>

namespace quillmere {

// What a queue run knows of one file item beyond its two paths. An empty
// field checks nothing.
struct ItemChecks {
  // Where the listing found the source, in FinalPathOf's form: a source
  // opened anywhere else (a folder on its path swapped for a link) is not
  // read.
  std::string listedAt;
  // True for the identity of a source file of the run: an existing
  // destination that is one under another name is not written.
  std::function<bool(const FileIdentity&)> isRunSource;
  // True for a final path (FinalPathOf's form, empty when unknown) where a
  // source file of the run may lie: an existing destination with one name
  // is asked about by identity only there. Empty: only destinations with
  // more than one name are.
  std::function<bool(const std::string&)> mayHoldRunSource;
  // Asked at the destination's open with its identity, the source's, and
  // whether it was there before the open: false refuses it (OPEN,
  // kNamesMeetCode), untouched. Empty: every destination may be written.
  std::function<bool(const FileIdentity& destination, const FileIdentity& source, bool existed)>
      claimDestination;
};

class CoreEngine {
 public:
  // controlFlags is not owned, never null, and must outlive the engine.
  CoreEngine(ProgressCallback onProgress, ErrorCallback onError, ControlFlags* controlFlags);
  ~CoreEngine();
  CoreEngine(const CoreEngine&) = delete;
  CoreEngine& operator=(const CoreEngine&) = delete;

  // Copies source to destination (whose folder must exist). True when every
  // block was copied, the source's size and last-write time were the same
  // after its last read as at its open, the copy got its exact size and,
  // with options.verify, its digest matched. False after any failure
  // (reported through onError), skip or cancel; the partial destination
  // stays. A failed read or write of a block is repeated while onError
  // answers RETRY, at most options.maxRetries times each per block; a write
  // that succeeds without writing anything counts as failed (WRITE, code
  // 29); a source changed while read fails (READ, code 1006). Runs on the
  // caller's thread; callbacks are called synchronously on it. Throws only
  // what the hasher's set-up or a callback throws, releasing everything on
  // the way.
  bool CopySingleFile(const std::string& source, const std::string& destination,
                      const CopyOptions& options);
  // The same, with the checks only a run can give.
  bool CopySingleFile(const std::string& source, const std::string& destination,
                      const CopyOptions& options, const ItemChecks& checks);

  // Asks onError about one failure; ABORT without a call when it is empty.
  void ReportError(const std::string& path, CopyStage stage, int32_t code,
                   const std::string& message, ErrorAction& action);

  // Re-reads destination through the cache and compares its digest with
  // sourceHex. Every failure is reported (VERIFY): a failed open or read
  // with its code, a length or digest that differs with both digests.
  bool VerifyCopy(const std::string& destination, uint64_t size, const std::string& sourceHex);

  // The stage the current or last copy was in (OPEN before its reading
  // began, READ once its hasher is set up, VERIFY from its re-read on), so
  // that a caller that sees a copy end by an exception can say where.
  CopyStage StageUnderWay() const { return stageUnderWay; }

 private:
  ProgressCallback onProgress;
  ErrorCallback onError;
  ControlFlags* controlFlags;
  CopyStage stageUnderWay = OPEN;
};

}  // namespace quillmere
