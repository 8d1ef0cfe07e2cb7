// Whether a folder source and the folder it is copied into overlap, so that
// the copy would write into the tree it is still reading: the destination is
// the source folder or lies inside it, or the source lies inside the
// destination where part of its tree would be copied onto the source itself.
//
// Paths are compared as the file system resolves them (the standard
// library's `equivalent`), never as text, so links, bind mounts, "." and
// "..", and on Windows case and short names, cannot hide an overlap.
#pragma once

#include "engine/types.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace quillmere {

enum class TreeOverlap {
  None,
  DestinationInSource,  // the destination is the source folder or lies inside it
  SourceInDestination,  // part of the source's tree would be copied onto the source
};

// The Windows code an overlap is reported with: ERROR_BAD_PATHNAME.
constexpr int32_t kTreeOverlapCode = 161;

// The text an overlap is reported with; "" for None.
const char* TreeOverlapMessage(TreeOverlap overlap);

// The checks that need no walk of the tree: the destination and each
// existing folder above it against the source; each folder above the source
// against the destination, an overlap only where the source's path below
// that folder also exists inside the source. Links and ".." are resolved
// first. A path that cannot be examined counts as no overlap.
TreeOverlap OverlapAlongPaths(const std::filesystem::path& source,
                              const std::filesystem::path& destination);

// The check of each real folder a walk of the source enters (never one
// reached through a link), made once per folder, never per file. It catches
// what no path shows: a folder of the tree that is the destination itself
// (a bind mount of it used as the destination), and a destination in which
// a folder's place is the source folder (a bind mount of the source inside
// the destination). Only an existing destination can be reached this way;
// for any other the check costs nothing. Both paths must outlive it.
class EnteredFolderCheck {
 public:
  EnteredFolderCheck(const std::filesystem::path& source,
                     const std::filesystem::path& destination);

  // folder: the entered folder's path; relative: its path below the source.
  TreeOverlap Check(const std::filesystem::path& folder,
                    const std::filesystem::path& relative) const;

 private:
  const std::filesystem::path& source;
  const std::filesystem::path& destination;
  bool destinationExists = false;
};

// The whole decision for one source and its own target, for the front ends
// to make before anything is queued or created: OverlapAlongPaths, then,
// when the destination exists, a walk of the source's folders through
// EnteredFolderCheck. A source that is not a folder never overlaps here (the
// copy of a single file refuses its own source by itself). Folders that
// cannot be opened are passed over; the listing reports them.
TreeOverlap FindTreeOverlap(const std::filesystem::path& source,
                            const std::filesystem::path& destination);

// FindTreeOverlap on UTF-8 paths, given as the failure a front end reports:
// the source path, OPEN, kTreeOverlapCode and the text. Empty when the two
// do not overlap.
std::optional<CopyError> TreeOverlapError(const std::string& source,
                                          const std::string& destination);

}  // namespace quillmere
