// Listing a source into queue items: a file becomes one file item; a folder
// becomes its own folder item followed by every folder and regular file of
// its tree, each placed at the same relative path below the destination.
//
// The standard recursive folder iterator gives up at its first failure, so
// the tree is walked here level by level: a folder that cannot be opened, or
// whose listing breaks off, is logged and left, and the walk goes on with
// the next entry of the folder above it.
//
// A tree that overlaps its destination would overwrite files it has yet to
// read; such a source is refused whole, with nothing queued.
#include "engine/queue_manager.h"

#include "engine/listed_name.h"
#include "engine/long_path_prefix.h"
#include "engine/text.h"
#include "engine/tree_overlap.h"
#include "engine/win32_file.h"
#include "platform/win32.h"

#include <filesystem>
#include <iterator>
#include <optional>
#include <set>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace quillmere {
namespace {

const char kNotFileOrFolder[] = "Duong dan nguon khong phai file hay thu muc hop le";
// A listed name that joined to its folder names something else: it has a
// drive, a root or a separator, or is "." or "..". Followed by the folder
// and the name as listed, and ")".
const char kNotPlainName[] =
    "Ten duoc liet ke khong phai mot ten don trong thu muc cua no, khong sao chep (thu muc=";
// A listed name found only as it was listed: the Windows path rules change
// it (a trailing dot or space) or read it as something else (a device name,
// a wildcard), so no copy could be opened under it.
const char kNameChangedByPathRules[] =
    "Ten file bi quy tac duong dan Windows thay doi hoac tu choi (dau cham hay khoang trang o "
    "cuoi, ten thiet bi, ky tu dai dien), khong sao chep";

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

// Moves a listing's vector to the end of the queue's. Into an empty one it
// is moved whole: for a large flat tree, the two item arrays held at once
// by a copy were a third of the listing's peak memory.
template <typename T>
void MoveToEnd(std::vector<T>& from, std::vector<T>& to) {
  if (to.empty()) {
    to.swap(from);
    return;
  }
  to.insert(to.end(), std::make_move_iterator(from.begin()), std::make_move_iterator(from.end()));
}

}  // namespace

// The walk of one folder source. Each open level keeps the names its
// folder listed and where the walk stands among them; the path of the
// deepest folder, and its path below the source folder, are kept once for
// the whole walk, each level holding only how much of them is its own.
//
// A level's listing is read whole when the level is opened. A folder
// iterator holds its folder's path and its current entry's as path objects,
// each with a list of its elements, so an iterator kept open per level made
// a chain of folders cost the square of its depth (and an open folder per
// level). Items are kept here, starting with the source folder's own, and
// reach the queue only when the caller appends them: a walk that finds its
// tree overlapping the destination leaves nothing queued.
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
    Level level;
    std::error_code error;
    if (!ReadFolder(sourcePath, sourcePath.has_filename(), level, error)) {
      queue.LogFileSystemError(source, OPEN, error);
      return false;
    }
    standingAt = source;
    finalSourcePath = FinalPathAt(source);
    std::error_code canonicalError;
    const fs::path canonical = fs::weakly_canonical(sourcePath, canonicalError);
    haveCanonicalSource = !canonicalError && !canonical.empty();
    folderText = sourcePath.native();
    PushLevel(std::move(level));
    return true;
  }

  // Hands out every entry, a folder's own entry right before its contents.
  // Stops at the first folder that overlaps the destination and names how.
  TreeOverlap Walk() {
    while (!levels.empty()) {
      Level& top = levels.back();
      if (top.next == top.names.size()) {
        Leave();
        continue;
      }
      const fs::path name = TakeName(top);
      // An entered folder's contents come next.
      if (HandOut(name)) continue;
      if (overlap != TreeOverlap::None) return overlap;
    }
    return TreeOverlap::None;
  }

  Listing TakeListing() { return std::move(listing); }
  // The source folder's final path once the walk is open; empty if unknown.
  const std::string& FinalSourcePath() const { return finalSourcePath; }

 private:
  using NativeText = fs::path::string_type;

  struct Level {
    NativeText names;          // the listed names, each followed by a NUL
    size_t next = 0;           // where the next name begins in names
    std::error_code brokeOff;  // why the listing ended early; none if it did not
    size_t folderLength = 0;    // this folder's path: the start of folderText
    size_t relativeLength = 0;  // its path below the source: the start of relativeText
    bool separated = true;      // whether joining a name to it adds a separator
    // Names listed more than once (see NoteRepeatedNames); empty as a rule.
    std::set<NativeText> repeated;
  };

  // A folder never holds two entries of one name: a name its listing gives
  // twice stands for several files whose names the system could not
  // convert and replaced with U+FFFD (Wine does so for host names that are
  // not UTF-8). Opening it reaches one of them, whichever the system picks,
  // so none is copied under it. Only names holding U+FFFD are compared; on
  // POSIX the listing gives every name's bytes as they are.
  static void NoteRepeatedNames([[maybe_unused]] Level& level) {
#if !QUILLMERE_NATIVE_PATHS_ARE_UTF8
    constexpr NativeText::value_type kReplacement = 0xFFFD;
    if (level.names.find(kReplacement) == NativeText::npos) return;
    std::set<NativeText> seen;
    for (size_t start = 0; start < level.names.size();) {
      const size_t end = level.names.find(NativeText::value_type(0), start);
      NativeText name = level.names.substr(start, end - start);
      start = end + 1;
      if (name.find(kReplacement) == NativeText::npos) continue;
      if (!seen.insert(name).second) level.repeated.insert(std::move(name));
    }
#endif
  }

  // Reads the whole listing of folder into level, each name as listed
  // (separated: whether the library's join puts a separator after the
  // folder); false, with the failure in error, when it cannot be opened. A
  // listing that breaks off keeps the names before the break and its
  // failure, reported once they are done.
  bool ReadFolder(const fs::path& folder, bool separated, Level& level, std::error_code& error) {
    if (const DWORD refusal = FolderListingRefusal(folder.c_str())) {
      error = std::error_code(static_cast<int>(refusal), std::system_category());
      return false;
    }
    fs::directory_iterator entries(folder, kWalkOptions, error);
    if (error) return false;
    level.separated = separated;
    while (entries != fs::directory_iterator()) {
      level.names += ListedName(entries->path().native(), folder.native(), separated);
      level.names += NativeText::value_type(0);
      entries.increment(level.brokeOff);
      if (level.brokeOff) break;
    }
    NoteRepeatedNames(level);
    return true;
  }

  // Makes level the deepest one, its folder's path being folderText and its
  // path below the source relativeText. A level with nothing to hand out
  // is left at once.
  void PushLevel(Level level) {
    level.folderLength = folderText.size();
    level.relativeLength = relativeText.size();
    levels.push_back(std::move(level));
  }

  // Leaves the deepest level; a listing that broke off is logged with the
  // entry the walk stood at, the last it handed out.
  void Leave() {
    if (levels.back().brokeOff) queue.LogFileSystemError(standingAt, OPEN, levels.back().brokeOff);
    levels.pop_back();
    if (levels.empty()) return;
    folderText.resize(levels.back().folderLength);
    relativeText.resize(levels.back().relativeLength);
  }

  static fs::path TakeName(Level& level) {
    const size_t end = level.names.find(NativeText::value_type(0), level.next);
    fs::path name(level.names.substr(level.next, end - level.next));
    level.next = end + 1;
    return name;
  }

  // Handles one listed name of the deepest folder: refused when it names no
  // entry of that folder or has no exact UTF-8 form, else queued and, when
  // it is a real folder, entered (true).
  bool HandOut(const fs::path& name) {
    if (!IsPlainName(name)) {
      RefuseNotPlain(name);
      return false;
    }
    const fs::path path = fs::path(folderText) / name;
    standingAt = PathToUtf8(path);
    if (!NameConvertsExactly(name) || levels.back().repeated.count(name.native()) != 0) {
      LogCode(standingAt, ERROR_NO_UNICODE_TRANSLATION);
      return false;
    }
    const fs::path relative = fs::path(relativeText) / name;
    std::error_code ownError;
    const fs::file_status own = fs::symlink_status(path, ownError);
    const bool isLink = ownError || fs::is_symlink(own);
    QueueEntry(path, name, relative, isLink, own);
    return !ownError && fs::is_directory(own) && Enter(path, relative);
  }

  // A name that, joined to its folder, would name something else (another
  // drive, a root, a place above): neither followed nor queued.
  void RefuseNotPlain(const fs::path& name) {
    const std::string folder = PathToUtf8(fs::path(folderText));
    const std::string listed = PathToUtf8(name);
    const bool separated = levels.back().separated;
    standingAt = folder + (separated ? QUILLMERE_PATH_SEPARATOR : "") + listed;
    queue.LogError(standingAt, OPEN, ERROR_INVALID_NAME,
                   std::string(kNotPlainName) + folder + ", ten=" + listed + ")");
  }

  // Windows codes of the walk's own refusals, with the system's text.
  void LogCode(const std::string& path, DWORD code) {
    queue.LogError(path, OPEN, static_cast<int32_t>(code),
                   std::system_category().message(static_cast<int>(code)));
  }

  // Queues a folder or regular file entry. It goes where its canonical form
  // lies below the source folder; a link that leads out of the tree (or to
  // the source folder itself) stays at its own place in the tree, so that no
  // destination lies outside the destination folder.
  // own is the entry's own status; a link's target is looked at anew.
  void QueueEntry(const fs::path& path, const fs::path& name, const fs::path& walkRelative,
                  bool isLink, const fs::file_status& own) {
    const std::string& entryText = standingAt;
    std::error_code error;
    const fs::file_status status = isLink ? fs::status(path, error) : own;
    if (error) {
      ExplainMissing(path, name, walkRelative);
      return;
    }
    // Every level below the source folder is a real folder entered by name,
    // so an entry that is no link has as its canonical form the source
    // folder's followed by its walk path: it goes to its walk place, and the
    // two canonical resolutions per entry (a system call per path element
    // each) are spared. Links, and a source whose canonical form could not
    // be had, take the full way.
    const bool atWalkPlace = haveCanonicalSource && !isLink;
    fs::path relative = walkRelative;
    if (!atWalkPlace && !CanonicalPlace(path, walkRelative, relative)) return;
    const std::string destination = PathToUtf8(destinationPath / relative);
    if (fs::is_directory(status)) {
      listing.Add(QueueItem{entryText, destination, 0, true});
    } else if (fs::is_regular_file(status)) {
      const uint64_t size = fs::file_size(path, error);
      const uint64_t listedSize = error ? 0 : size;
      listing.Add(QueueItem{entryText, destination, listedSize, false},
                  atWalkPlace ? ListedAt(walkRelative) : std::string());
      if (!atWalkPlace) listing.linkedFiles.push_back(FinalPathAt(entryText));
    }
  }

  // A listed entry whose status fails. Where the platform's path rules
  // change names, it is asked for once more as it was listed: found so, it
  // is a name those rules change or refuse, and is reported. Removed entries
  // and dangling links are left out silently; an entry that cannot be
  // examined is logged when its canonical form cannot be had either, as for
  // every other entry.
  void ExplainMissing(const fs::path& path, const fs::path& name, const fs::path& walkRelative) {
    const DWORD code = FindAsListed(folderText.c_str(), name.c_str());
    if (code == ERROR_SUCCESS) {
      queue.LogError(standingAt, OPEN, ERROR_INVALID_NAME, kNameChangedByPathRules);
    } else if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND) {
      LogCode(standingAt, code);
    } else {
      fs::path unused;
      CanonicalPlace(path, walkRelative, unused);
    }
  }

  // Where an entry that is no link lies, in the form the copy's open is
  // checked in: the source folder's final path, found once, and the walk's
  // path below it. Every folder on the way was entered as a real folder.
  std::string ListedAt(const fs::path& walkRelative) const {
    if (finalSourcePath.empty()) return std::string();
    return PathToUtf8(Utf8ToPath(finalSourcePath) / walkRelative);
  }

  // Places an entry by its canonical form: below the source folder where it
  // lies inside it, else at its walk place. False, with the failure logged,
  // when a canonical form cannot be had.
  bool CanonicalPlace(const fs::path& path, const fs::path& walkRelative, fs::path& relative) {
    std::error_code error;
    const fs::path canonicalEntry = fs::weakly_canonical(path, error);
    fs::path canonicalOfSource;
    if (!error) canonicalOfSource = fs::weakly_canonical(sourcePath, error);
    if (error) {
      queue.LogFileSystemError(standingAt, OPEN, error);
      return false;
    }
    relative = CanonicalRelative(canonicalEntry, canonicalOfSource);
    if (LeavesTree(relative)) relative = walkRelative;
    return true;
  }

  // Opens a real folder (never one reached through a link) as a new level.
  // False when there is nothing to walk in it, and when it overlaps the
  // destination (noted in overlap).
  bool Enter(const fs::path& folder, const fs::path& relative) {
    overlap = overlapCheck.Check(folder, relative);
    if (overlap != TreeOverlap::None) return false;
    Level level;
    std::error_code error;
    if (!ReadFolder(folder, true, level, error)) {
      queue.LogFileSystemError(standingAt, OPEN, error);
      return false;
    }
    if (level.names.empty() && !level.brokeOff) return false;
    // folder is the deepest folder joined with one plain name, so the texts
    // of the levels above stay the start of the new ones.
    folderText = folder.native();
    relativeText = relative.native();
    PushLevel(std::move(level));
    return true;
  }

  QueueManager& queue;
  const fs::path& sourcePath;
  const fs::path& destinationPath;
  const EnteredFolderCheck overlapCheck;
  TreeOverlap overlap = TreeOverlap::None;
  Listing listing;
  std::vector<Level> levels;
  NativeText folderText;    // the deepest level's folder
  NativeText relativeText;  // the deepest level's path below the source folder
  std::string standingAt;   // UTF-8 path of the last entry handed out
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
  MoveToEnd(listing.items, items);
  MoveToEnd(listing.listedPaths, listedPaths);
  statuses.resize(items.size(), ItemStatus::Pending);
  messages.resize(items.size());
}

void QueueManager::CountListedFile(uint64_t size) {
  std::lock_guard<std::mutex> lock(mutex);
  ++totalFiles;
  totalBytes += size;
}

}  // namespace quillmere
