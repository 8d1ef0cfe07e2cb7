// Listing a source into queue items: a file becomes one file item; a folder
// becomes its own folder item followed by every folder and regular file of
// its tree, each placed at the same relative path below the destination.
//
// The standard recursive folder iterator gives up at its first failure, so
// the tree is walked here with one folder iterator per open level: a folder
// that cannot be opened, or whose listing breaks off, is logged and left,
// and the walk goes on with the next entry of the folder above it.
//
// A tree that overlaps its destination would overwrite files it has yet to
// read; such a source is refused whole, with nothing queued.
#include "engine/queue_manager.h"

#include "engine/long_path_prefix.h"
#include "engine/text.h"
#include "engine/tree_overlap.h"
#include "engine/win32_file.h"
#include "platform/win32.h"

#include <filesystem>
#include <iterator>
#include <optional>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace quillmere {
namespace {

const char kNotFileOrFolder[] = "Duong dan nguon khong phai file hay thu muc hop le";

// Links to folders are never followed by the iterator itself. A folder the
// user may not open is an error like any other: its contents are not
// copied, and the log and the exit code must say so.
constexpr fs::directory_options kWalkOptions = fs::directory_options::none;

// "\\?\" followed by a drive letter and a colon: the form in which a
// canonical drive path may come back on Windows.
bool HasDrivePrefix(const fs::path::string_type& text) {
  using Char = fs::path::value_type;
  if (text.size() < 6) return false;
  const Char letter = text[4];
  const bool isLetter =
      (letter >= Char('A') && letter <= Char('Z')) || (letter >= Char('a') && letter <= Char('z'));
  return text[0] == Char('\\') && text[1] == Char('\\') && text[2] == Char('?') &&
         text[3] == Char('\\') && isLetter && text[5] == Char(':');
}

// The entry's path relative to the source folder, both in canonical form.
fs::path CanonicalRelative(const fs::path& entry, const fs::path& source) {
  const fs::path::string_type& entryText = entry.native();
  const fs::path::string_type& sourceText = source.native();
  if (HasDrivePrefix(entryText) && HasDrivePrefix(sourceText)) {
    return fs::path(entryText.substr(4)).lexically_relative(fs::path(sourceText.substr(4)));
  }
  return entry.lexically_relative(source);
}

// A canonical relative path that does not name a place below the source
// folder: empty (another drive), "." (the source folder itself), one that
// climbs out with "..", or one with a root. Joined to the destination it
// would name the destination folder itself or a place outside it.
bool LeavesTree(const fs::path& relative) {
  if (relative.empty() || relative.has_root_path()) return true;
  const fs::path first = *relative.begin();
  return first == fs::path(".") || first == fs::path("..");
}

}  // namespace

// The walk of one folder source. Each open level keeps its folder iterator
// and the entry names that lead to it from the source folder. Items are kept
// here, starting with the source folder's own, and reach the queue only when
// the caller appends them: a walk that finds its tree overlapping the
// destination leaves nothing queued.
class QueueManager::TreeWalk {
 public:
  TreeWalk(QueueManager& queue, const fs::path& sourcePath, const fs::path& destinationPath)
      : queue(queue),
        sourcePath(sourcePath),
        destinationPath(destinationPath),
        overlapCheck(sourcePath, destinationPath) {
    listing.Add(QueueItem{PathToUtf8(sourcePath), PathToUtf8(destinationPath), 0, true});
  }

  // Opens the source folder; a failure, the user's own denial included, is
  // logged with `source` and gives false.
  bool Open(const std::string& source) {
    std::error_code error;
    fs::directory_iterator entries(sourcePath, kWalkOptions, error);
    if (error) {
      queue.LogFileSystemError(source, OPEN, error);
      return false;
    }
    standingAt = source;
    finalSourcePath = FinalPathAt(source);
    std::error_code canonicalError;
    const fs::path canonical = fs::weakly_canonical(sourcePath, canonicalError);
    haveCanonicalSource = !canonicalError && !canonical.empty();
    if (entries != fs::directory_iterator()) {
      levels.push_back(Level{std::move(entries), fs::path()});
    }
    return true;
  }

  // Hands out every entry, a folder's own entry right before its contents.
  // Stops at the first folder that overlaps the destination and names how.
  TreeOverlap Walk() {
    while (!levels.empty()) {
      Level& top = levels.back();
      if (top.entries == fs::directory_iterator()) {
        levels.pop_back();
        if (!levels.empty()) Advance(levels.back());
        continue;
      }
      const fs::directory_entry entry = *top.entries;
      const fs::path relative = top.relative / entry.path().filename();
      standingAt = PathToUtf8(entry.path());
      QueueEntry(entry, relative);
      // A level that is entered is advanced when its contents are done.
      if (Enter(entry, relative)) continue;
      if (overlap != TreeOverlap::None) return overlap;
      Advance(top);
    }
    return TreeOverlap::None;
  }

  Listing TakeListing() { return std::move(listing); }
  // The source folder's final path once the walk is open; empty if unknown.
  const std::string& FinalSourcePath() const { return finalSourcePath; }

 private:
  struct Level {
    fs::directory_iterator entries;
    fs::path relative;  // walk-relative path of this folder below the source
  };

  // Queues a folder or regular file entry. It goes where its canonical form
  // lies below the source folder; a link that leads out of the tree (or to
  // the source folder itself) stays at its own place in the tree, so that no
  // destination lies outside the destination folder.
  void QueueEntry(const fs::directory_entry& entry, const fs::path& walkRelative) {
    const std::string entryText = PathToUtf8(entry.path());
    const bool atWalkPlace = LiesAtWalkPlace(entry);
    fs::path relative = walkRelative;
    if (!atWalkPlace && !CanonicalPlace(entry, walkRelative, entryText, relative)) return;
    const std::string destination = PathToUtf8(destinationPath / relative);

    // Removed entries and dangling links have no kind: left out silently.
    // An entry that cannot be examined is logged when its canonical form
    // cannot be had either, as for every other entry.
    std::error_code error;
    const fs::file_status status = entry.status(error);
    if (error) {
      if (atWalkPlace) CanonicalPlace(entry, walkRelative, entryText, relative);
      return;
    }
    if (fs::is_directory(status)) {
      listing.Add(QueueItem{entryText, destination, 0, true});
    } else if (fs::is_regular_file(status)) {
      const uint64_t size = entry.file_size(error);
      const uint64_t listedSize = error ? 0 : size;
      listing.Add(QueueItem{entryText, destination, listedSize, false},
                  atWalkPlace ? ListedAt(walkRelative) : std::string());
      if (!atWalkPlace) listing.linkedFiles.push_back(FinalPathAt(entryText));
    }
  }

  // Where an entry that is no link lies, in the form the copy's open is
  // checked in: the source folder's final path, found once, and the walk's
  // path below it. Every folder on the way was entered as a real folder.
  std::string ListedAt(const fs::path& walkRelative) const {
    if (finalSourcePath.empty()) return std::string();
    return PathToUtf8(Utf8ToPath(finalSourcePath) / walkRelative);
  }

  // Every level below the source folder is a real folder entered by name,
  // so an entry that is no link has as its canonical form the source
  // folder's followed by its walk path: it goes to its walk place, and the
  // two canonical resolutions per entry (a system call per path element
  // each) are spared. Links, and a source whose canonical form could not be
  // had, take the full way.
  bool LiesAtWalkPlace(const fs::directory_entry& entry) const {
    if (!haveCanonicalSource) return false;
    std::error_code error;
    const bool link = entry.is_symlink(error);
    return !error && !link;
  }

  // Places an entry by its canonical form: below the source folder where it
  // lies inside it, else at its walk place. False, with the failure logged,
  // when a canonical form cannot be had.
  bool CanonicalPlace(const fs::directory_entry& entry, const fs::path& walkRelative,
                      const std::string& entryText, fs::path& relative) {
    std::error_code error;
    const fs::path canonicalEntry = fs::weakly_canonical(entry.path(), error);
    fs::path canonicalOfSource;
    if (!error) canonicalOfSource = fs::weakly_canonical(sourcePath, error);
    if (error) {
      queue.LogFileSystemError(entryText, OPEN, error);
      return false;
    }
    relative = CanonicalRelative(canonicalEntry, canonicalOfSource);
    if (LeavesTree(relative)) relative = walkRelative;
    return true;
  }

  // Opens a real folder (never one reached through a link) as a new level.
  // False when there is nothing to walk in it, and when it overlaps the
  // destination (noted in overlap).
  bool Enter(const fs::directory_entry& entry, const fs::path& relative) {
    std::error_code error;
    const fs::file_status own = entry.symlink_status(error);
    if (error || !fs::is_directory(own)) return false;
    overlap = overlapCheck.Check(entry.path(), relative);
    if (overlap != TreeOverlap::None) return false;
    fs::directory_iterator entries(entry.path(), kWalkOptions, error);
    if (error) {
      queue.LogFileSystemError(standingAt, OPEN, error);
      return false;
    }
    if (entries == fs::directory_iterator()) return false;
    levels.push_back(Level{std::move(entries), relative});
    return true;
  }

  // Moves a level to its next entry. A listing that breaks off is logged
  // with the entry the walk stood at and the level ends there.
  void Advance(Level& level) {
    std::error_code error;
    level.entries.increment(error);
    if (!error) return;
    queue.LogFileSystemError(standingAt, OPEN, error);
    level.entries = fs::directory_iterator();
  }

  QueueManager& queue;
  const fs::path& sourcePath;
  const fs::path& destinationPath;
  const EnteredFolderCheck overlapCheck;
  TreeOverlap overlap = TreeOverlap::None;
  Listing listing;
  std::vector<Level> levels;
  std::string standingAt;  // UTF-8 path of the last entry handed out
  bool haveCanonicalSource = false;  // found out once, when the walk opens
  std::string finalSourcePath;       // FinalPathAt of the source; empty if unknown
};

bool QueueManager::AddSource(const std::string& source, const std::string& destination) {
  const std::optional<LibraryPaths> paths = ListingPathsOrRefusal(*this, source, destination);
  if (!paths) return false;
  const fs::path& sourcePath = paths->source;
  const fs::path& destinationPath = paths->destination;
  std::error_code error;
  const fs::file_status status = fs::status(sourcePath, error);
  if (error) {
    LogFileSystemError(source, OPEN, error);
    return false;
  }
  if (fs::is_regular_file(status)) return AddFileSource(sourcePath, destinationPath);
  if (fs::is_directory(status)) return AddFolderSource(source, sourcePath, destinationPath);
  LogError(source, OPEN, 0, kNotFileOrFolder);
  return false;
}

bool QueueManager::AddFileSource(const fs::path& sourcePath, const fs::path& destinationPath) {
  std::error_code error;
  const uint64_t size = fs::file_size(sourcePath, error);
  const uint64_t listedSize = error ? 0 : size;
  CountListedFile(listedSize);
  const std::string sourceText = PathToUtf8(sourcePath);
  std::string listedAt = FinalPathAt(sourceText);
  NoteSourceFile(listedAt);
  AddListedItem(QueueItem{sourceText, PathToUtf8(destinationPath), listedSize, false},
                std::move(listedAt));
  return true;
}

// A tree that overlaps its destination is refused whole, before anything
// is queued: copied, it would overwrite files it has yet to read.
bool QueueManager::AddFolderSource(const std::string& source, const fs::path& sourcePath,
                                   const fs::path& destinationPath) {
  TreeWalk walk(*this, sourcePath, destinationPath);
  TreeOverlap overlap = OverlapAlongDestinationPath(sourcePath, destinationPath);
  if (overlap == TreeOverlap::None) {
    if (!walk.Open(source)) {
      // As after any other listing failure, the source folder's item stays.
      AppendListing(walk.TakeListing());
      return false;
    }
    overlap = walk.Walk();
  }
  if (overlap != TreeOverlap::None) {
    LogError(source, OPEN, kTreeOverlapCode, TreeOverlapMessage(overlap));
    return false;
  }
  NoteSourceFolder(walk.FinalSourcePath());
  AppendListing(walk.TakeListing());
  return true;
}

void QueueManager::AppendListing(Listing listing) {
  uint64_t files = 0;
  uint64_t bytes = 0;
  for (const QueueItem& item : listing.items) {
    if (item.isDirectory) continue;
    ++files;
    bytes += item.size;
  }
  std::lock_guard<std::mutex> lock(mutex);
  for (const std::string& linked : listing.linkedFiles) NoteSourceFile(linked);
  totalFiles += files;
  totalBytes += bytes;
  items.insert(items.end(), std::make_move_iterator(listing.items.begin()),
               std::make_move_iterator(listing.items.end()));
  listedPaths.insert(listedPaths.end(), std::make_move_iterator(listing.listedPaths.begin()),
                     std::make_move_iterator(listing.listedPaths.end()));
  statuses.resize(items.size(), ItemStatus::Pending);
  messages.resize(items.size());
}

void QueueManager::CountListedFile(uint64_t size) {
  std::lock_guard<std::mutex> lock(mutex);
  ++totalFiles;
  totalBytes += size;
}

}  // namespace quillmere
