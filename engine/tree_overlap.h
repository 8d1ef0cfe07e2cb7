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

// The check that needs no walk of the tree: the destination and each
// existing folder above it against the source, after links and ".." in the
// destination are resolved; so a destination still to be made inside the
// source is caught as well. A path that cannot be examined counts as no
// overlap.
TreeOverlap OverlapAlongDestinationPath(const std::filesystem::path& source,
                                        const std::filesystem::path& destination);

// The check of each real folder a walk of the source enters (never one
// reached through a link), made once per folder, never per file:
// - the folder is the destination: the destination lies inside the source,
//   also where no path shows it (a bind mount of the folder);
// - the destination's folder at the same place is the source folder: the
//   source lies inside the destination there, and the tree from that folder
//   down would be copied onto the source itself. A source merely below its
//   destination, whose tree holds no such folder, is no overlap.
// Only an existing destination can be reached this way; for any other the
// check costs nothing. Both paths must outlive it.
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
// to make before anything is queued or created: OverlapAlongDestinationPath,
// then, when the destination exists, a walk of the source's folders through
// EnteredFolderCheck. A source that is not a folder never overlaps here (the
// copy of a single file refuses its own source by itself). Folders that
// cannot be opened are passed over; the listing reports them.
TreeOverlap FindTreeOverlap(const std::filesystem::path& source,
                            const std::filesystem::path& destination);

// FindTreeOverlap on UTF-8 paths, each in its LibraryPathForm, given as the
// failure a front end reports: the source path, OPEN, kTreeOverlapCode and
// the text. Empty when the two do not overlap, and when either path has no
// such form (the listing refuses it).
std::optional<CopyError> TreeOverlapError(const std::string& source,
                                          const std::string& destination);

}  // namespace quillmere
