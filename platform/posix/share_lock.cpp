// Share modes as open-file-description locks on four one-byte marks at the
// very end of the offset range, far past any data (a lock neither needs the
// bytes to exist nor extends the file):
//
//   has read access | refuses write sharing | has write access | refuses read sharing
//
// The order keeps the marks of the usual handles side by side, so that one
// lock call sets them and one looks for conflicts: a reader that shares
// reading holds the first two and conflicts with the last two; a writer
// that shares nothing holds the last three and conflicts with the first
// three.
//
// Each handle holds a read lock on the marks that describe it. A new open
// conflicts with a mark that another handle holds when it asks for reading
// (refuses read sharing), asks for writing (refuses write sharing), does not
// share reading (has read access) or does not share writing (has write
// access); F_OFD_GETLK with a write lock finds any other description's read
// lock there. Every descriptor of every process sees these locks, whatever
// path or hard link it came by, and closing the handle drops them.
//
// An open sets its own marks first and looks for conflicts after, so of two
// conflicting opens racing each other at least one sees the other: both may
// back off, never both succeed. A backed-off open drops its marks, waits a
// short random while and tries again a few times, so a race rarely costs
// either of them the open.
//
// Some file systems refuse these locks (NFS without a lock service, some
// FUSE). There the same rules are judged against a table of this process's
// own open handles on such files, so a copy onto its own source through
// another path is still refused; other processes' handles go unseen.
#include "platform/posix/share_lock.h"

#include "platform/posix/posix_internal.h"
#if QUILLMERE_FAULT_SEAM
#include "platform/testing/fault_state.h"
#endif

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <limits>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using posix_standin::FileObject;

enum Mark { kHasRead, kRefusesWrite, kHasWrite, kRefusesRead, kMarkCount };

constexpr off_t kFirstMark = std::numeric_limits<off_t>::max() - (kMarkCount - 1);
constexpr int kAttempts = 4;

struct Claim {
  bool holds[kMarkCount] = {};      // marks that describe the new handle
  bool conflicts[kMarkCount] = {};  // marks the new handle may not meet
};

Claim ClaimFor(DWORD access, DWORD shareMode) {
  const bool read = (access & GENERIC_READ) != 0;
  const bool write = (access & GENERIC_WRITE) != 0;
  const bool sharesRead = (shareMode & FILE_SHARE_READ) != 0;
  const bool sharesWrite = (shareMode & FILE_SHARE_WRITE) != 0;
  Claim claim;
  claim.holds[kHasRead] = read;
  claim.holds[kHasWrite] = write;
  claim.holds[kRefusesRead] = !sharesRead;
  claim.holds[kRefusesWrite] = !sharesWrite;
  claim.conflicts[kRefusesRead] = read;
  claim.conflicts[kRefusesWrite] = write;
  claim.conflicts[kHasRead] = !sharesRead;
  claim.conflicts[kHasWrite] = !sharesWrite;
  return claim;
}

struct flock MarkLock(short type, off_t start, off_t length) {
  struct flock lock = {};  // l_pid must be 0 for the OFD commands
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = start;
  lock.l_len = length;
  return lock;
}

// 0 or the errno of the failed fcntl.
int LockCall(int fd, int command, struct flock& lock) {
#if QUILLMERE_FAULT_SEAM
  if (int refused = fault_injection::detail::LockRefusal()) return refused;
#endif
  int result;
  do {
    result = ::fcntl(fd, command, &lock);
  } while (result != 0 && errno == EINTR);
  return result == 0 ? 0 : errno;
}

bool IsConflict(int error) { return error == EAGAIN || error == EACCES; }

// File systems without lock support (or without room for these offsets)
// cannot enforce share modes; opens go on there rather than fail every copy.
bool LocksUnsupported(int error) {
  return error == ENOLCK || error == EINVAL || error == EOPNOTSUPP || error == ENOSYS ||
         error == EOVERFLOW;
}

void DropMarks(int fd) {
  struct flock lock = MarkLock(F_UNLCK, kFirstMark, kMarkCount);
  LockCall(fd, F_OFD_SETLK, lock);
}

// A read lock on a mark needs a description open for reading: the handle's
// own, or a second one on the same file. -1 when none can be had.
int ReadableDescriptor(FileObject& file) {
  if (file.descriptorReadable) return file.fd;
  std::string self = "/proc/self/fd/" + std::to_string(file.fd);
  file.lockFd = ::open(self.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  return file.lockFd;
}

// Calls visit(first, count) for every run of adjacent marks set in marks;
// stops at, and returns, the first non-zero result.
template <typename Visit>
int ForEachRun(const bool (&marks)[kMarkCount], Visit visit) {
  for (int first = 0; first < kMarkCount;) {
    if (!marks[first]) {
      ++first;
      continue;
    }
    int end = first + 1;
    while (end < kMarkCount && marks[end]) ++end;
    if (int result = visit(first, end - first)) return result;
    first = end;
  }
  return 0;
}

// One attempt: set the handle's marks, then look for conflicting ones, one
// lock call per run of adjacent marks. A run holds only marks the claim
// conflicts with, so any lock found in it is a conflict.
// 0, EAGAIN for a sharing conflict, or another errno.
int TryClaim(int fd, bool canHold, const Claim& claim) {
  if (canHold) {
    int error = ForEachRun(claim.holds, [fd](int first, int count) {
      struct flock lock = MarkLock(F_RDLCK, kFirstMark + first, count);
      return LockCall(fd, F_OFD_SETLK, lock);
    });
    if (error != 0) return IsConflict(error) ? EAGAIN : error;
  }
  return ForEachRun(claim.conflicts, [fd](int first, int count) {
    struct flock lock = MarkLock(F_WRLCK, kFirstMark + first, count);
    int error = LockCall(fd, F_OFD_GETLK, lock);
    if (error != 0) return error;
    return lock.l_type != F_UNLCK ? EAGAIN : 0;
  });
}

void WaitBeforeRetry() {
  thread_local std::minstd_rand random(static_cast<unsigned>(
      std::chrono::steady_clock::now().time_since_epoch().count() ^ ::getpid()));
  std::uniform_int_distribution<int> micros(50, 500);
  std::this_thread::sleep_for(std::chrono::microseconds(micros(random)));
}

// This process's open handles that take part in share modes.
struct TableEntry {
  dev_t device;
  ino_t inode;
  bool holds[kMarkCount];
  const FileObject* owner;
};

std::mutex tableMutex;
std::vector<TableEntry> table;

// True when an open handle of this process on the same file stands against
// the claim; else the claim joins the table. One step under the lock, so
// two threads opening the same file cannot both pass.
bool EnterTable(const FileObject& file, const struct stat& info, const Claim& claim) {
  std::lock_guard<std::mutex> lock(tableMutex);
  for (const TableEntry& entry : table) {
    if (entry.device != info.st_dev || entry.inode != info.st_ino) continue;
    for (int mark = 0; mark < kMarkCount; ++mark) {
      if (entry.holds[mark] && claim.conflicts[mark]) return true;
    }
  }
  TableEntry entry{info.st_dev, info.st_ino, {}, &file};
  std::copy(std::begin(claim.holds), std::end(claim.holds), entry.holds);
  table.push_back(entry);
  return false;
}

void LeaveTable(const FileObject& file) {
  std::lock_guard<std::mutex> lock(tableMutex);
  table.erase(std::remove_if(table.begin(), table.end(),
                             [&file](const TableEntry& entry) { return entry.owner == &file; }),
              table.end());
}

// The claim through file locks, seen by every process. locksRefused tells
// a file system that refuses the lock calls (the result is then success).
DWORD ClaimThroughLocks(FileObject& file, const Claim& claim, bool& locksRefused) {
  locksRefused = false;
  int fd = ReadableDescriptor(file);
  // Without a readable description (a write-only file of someone else's)
  // the handle cannot mark itself; it still checks the others' marks.
  const bool canHold = fd >= 0;
  if (!canHold) fd = file.fd;
  for (int attempt = 1;; ++attempt) {
    int error = TryClaim(fd, canHold, claim);
    if (error == 0) return ERROR_SUCCESS;
    if (canHold) DropMarks(fd);
    if (LocksUnsupported(error)) {
      locksRefused = true;
      return ERROR_SUCCESS;
    }
    if (error != EAGAIN) return Win32ErrorFromErrno(error);
    if (attempt == kAttempts) return ERROR_SHARING_VIOLATION;
    WaitBeforeRetry();
  }
}

}  // namespace

namespace posix_standin {

DWORD ClaimShareAccess(FileObject& file, const struct stat& info, DWORD access,
                       DWORD shareMode) {
  if ((access & (GENERIC_READ | GENERIC_WRITE)) == 0) return ERROR_SUCCESS;
  const Claim claim = ClaimFor(access, shareMode);
  bool locksRefused = false;
  const DWORD code = ClaimThroughLocks(file, claim, locksRefused);
  if (!locksRefused) return code;
  // Every handle of this file met the same refusal, so all of this
  // process's handles on it are in the table.
  if (EnterTable(file, info, claim)) return ERROR_SHARING_VIOLATION;
  file.inShareTable = true;
  return ERROR_SUCCESS;
}

void ForgetShareAccess(FileObject& file) {
  LeaveTable(file);
  file.inShareTable = false;
}

}  // namespace posix_standin
