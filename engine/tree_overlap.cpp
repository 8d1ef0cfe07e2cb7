#include "engine/tree_overlap.h"

#include "engine/long_path_prefix.h"
#include "engine/text.h"

#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace quillmere {
namespace {

const char kDestinationInSource[] =
    "Thu muc dich la chinh thu muc nguon hoac nam ben trong no, khong the sao chep cay thu muc "
    "vao chinh no";
const char kSourceInDestination[] =
    "Thu muc nguon nam ben trong thu muc dich, sao chep se ghi de len chinh cac file nguon";

// One file or folder under two paths; false when either cannot be examined,
// a missing one included.
bool SameFolder(const fs::path& first, const fs::path& second) {
  std::error_code error;
  return fs::equivalent(first, second, error) && !error;
}

// The absolute path with links, "." and ".." resolved as far as it exists,
// without a trailing separator; empty when it cannot be had.
fs::path Resolved(const fs::path& path) {
  std::error_code error;
  const fs::path absolute = fs::absolute(path, error);
  if (error) return {};
  fs::path resolved = fs::weakly_canonical(absolute, error);
  if (error) return {};
  if (!resolved.has_filename() && resolved.has_relative_path()) resolved = resolved.parent_path();
  return resolved;
}

// The folder a resolved path lies in; empty above a root.
fs::path Above(const fs::path& path) {
  if (!path.has_relative_path()) return {};
  fs::path parent = path.parent_path();
  if (parent == path) return {};
  return parent;
}

bool IsRealFolder(const fs::directory_entry& entry) {
  std::error_code error;
  const fs::file_status own = entry.symlink_status(error);
  return !error && fs::is_directory(own);
}

// Every real folder of the source's tree through the check. A listing that
// fails ends the walk early: the queue's own listing reports it and still
// checks what lies beyond.
TreeOverlap WalkFolders(const fs::path& source, const EnteredFolderCheck& check) {
  std::error_code error;
  fs::recursive_directory_iterator entry(source, fs::directory_options::skip_permission_denied,
                                         error);
  std::vector<fs::path> names;  // from below the source down to the current folder
  for (; !error && entry != fs::recursive_directory_iterator(); entry.increment(error)) {
    if (!IsRealFolder(*entry)) continue;
    names.resize(static_cast<size_t>(entry.depth()));
    names.push_back(entry->path().filename());
    fs::path relative;
    for (const fs::path& name : names) relative /= name;
    const TreeOverlap overlap = check.Check(entry->path(), relative);
    if (overlap != TreeOverlap::None) return overlap;
  }
  return TreeOverlap::None;
}

}  // namespace

const char* TreeOverlapMessage(TreeOverlap overlap) {
  switch (overlap) {
    case TreeOverlap::DestinationInSource:
      return kDestinationInSource;
    case TreeOverlap::SourceInDestination:
      return kSourceInDestination;
    case TreeOverlap::None:
      break;
  }
  return "";
}

TreeOverlap OverlapAlongDestinationPath(const fs::path& source, const fs::path& destination) {
  for (fs::path folder = Resolved(destination); !folder.empty(); folder = Above(folder)) {
    if (SameFolder(folder, source)) return TreeOverlap::DestinationInSource;
  }
  return TreeOverlap::None;
}

EnteredFolderCheck::EnteredFolderCheck(const fs::path& source, const fs::path& destination)
    : source(source), destination(destination) {
  std::error_code error;
  destinationExists = fs::is_directory(fs::status(destination, error));
}

TreeOverlap EnteredFolderCheck::Check(const fs::path& folder, const fs::path& relative) const {
  if (!destinationExists) return TreeOverlap::None;
  if (SameFolder(folder, destination)) return TreeOverlap::DestinationInSource;
  if (SameFolder(destination / relative, source)) return TreeOverlap::SourceInDestination;
  return TreeOverlap::None;
}

TreeOverlap FindTreeOverlap(const fs::path& source, const fs::path& destination) {
  std::error_code error;
  if (!fs::is_directory(fs::status(source, error))) return TreeOverlap::None;
  const TreeOverlap alongPath = OverlapAlongDestinationPath(source, destination);
  if (alongPath != TreeOverlap::None) return alongPath;
  if (!fs::is_directory(fs::status(destination, error))) return TreeOverlap::None;
  return WalkFolders(source, EnteredFolderCheck(source, destination));
}

std::optional<CopyError> TreeOverlapError(const std::string& source,
                                          const std::string& destination) {
  const std::optional<std::string> sourceForm = LibraryPathForm(source);
  const std::optional<std::string> destinationForm = LibraryPathForm(destination);
  // The listing refuses such a path itself, with its own reason.
  if (!sourceForm || !destinationForm) return std::nullopt;
  const TreeOverlap overlap =
      FindTreeOverlap(Utf8ToPath(*sourceForm), Utf8ToPath(*destinationForm));
  if (overlap == TreeOverlap::None) return std::nullopt;
  CopyError error;
  error.path = source;
  error.stage = OPEN;
  error.code = kTreeOverlapCode;
  error.message = TreeOverlapMessage(overlap);
  return error;
}

}  // namespace quillmere
